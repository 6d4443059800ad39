// A full disk under the error logs: the start stops when a log cannot be created, and goes on
// normally once there is room; while the task runs, an export that cannot be written is not
// answered and archiving goes on. A small file system is mounted over the LOG folder where the
// process may mount one; elsewhere the executive's file writes fail by injection (property
// "fault": "real" or "injected"; ERR_RELIABILITY_INJECT=1 forces injection). The other
// file-system faults at start are in the log_start_faults script case.
#include <sys/mount.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "reliability_system.h"

namespace {

using reliability::contains;
using reliability::kSystemError;
using reliability::kUserError;
using reliability::System;

class SmallDisk {
  public:
    SmallDisk(const std::string& folder, const char* size) : folder_(folder) {
        const char* inject = std::getenv("ERR_RELIABILITY_INJECT");
        mounted_ =
            !(inject && inject[0] == '1') && mount("tmpfs", folder.c_str(), "tmpfs", 0, size) == 0;
    }
    ~SmallDisk() {
        if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    bool resize(const char* size) {
        return mount("tmpfs", folder_.c_str(), "tmpfs", MS_REMOUNT, size) == 0;
    }
    // Fills the file system until a write fails, to the last byte; returns the filler's path.
    std::string fill_up() const {
        const std::string filler = folder_ + "/FILLER";
        FILE* f = std::fopen(filler.c_str(), "wb");
        if (!f) return filler;
        const std::string chunk(4096, 'f');
        while (std::fwrite(chunk.data(), 1, chunk.size(), f) == chunk.size() &&
               std::fflush(f) == 0) {
        }
        while (std::fputc('f', f) != EOF && std::fflush(f) == 0) {
        }
        std::fclose(f);
        return filler;
    }

  private:
    std::string folder_;
    bool mounted_ = false;
};

// Command 610 (export the user log) to name; the block count of the answer (0xFFFF: none).
std::uint16_t export_user_log(System& sys, const std::string& name) {
    using namespace host_system;
    EXPECT_TRUE(sys.world->send_asking(
        message(0, {block(CMD_EXPORT_USER_LOG, concat({words({0}), text_bytes(name, true)}))})));
    const Reply reply = sys.world->receive_reply(System::kWait);
    return System::answered(reply) ? get16(reply.message, MSG_BLOCK_COUNT) : 0xFFFF;
}

TEST(ReliabilityFs, FullDiskStopsCreationFailsExportAndRecovers) {
    System sys;
    // 20 KiB: room for the system log (15848 bytes) but not for the user log as well.
    SmallDisk disk(sys.root.host_path("LOG"), "size=20k");
    ::testing::Test::RecordProperty("fault", disk.mounted() ? "real" : "injected");
    ASSERT_FALSE(sys.start([&] {
        // Injected: the system log's 27 writes (header, 25 records, header) succeed, the user
        // log's first falls short.
        if (!disk.mounted()) rtx_host_fail(RTX_OP_FILE_WRITE, 27, 1, RTX_E_INJECTED);
    }));
    EXPECT_EQ(std::string(rtx_host_console_text()),
              "error_task:\n-------------Failed to write to log file \\LOG\\USERERR.LOG\n"
              "Error Task Initialization Error\n-------------------------------\n"
              "rtx_status.status:     0000\nSuspending Error Task\n---------------------\n");
    EXPECT_TRUE(sys.log_valid("SYSERR.LOG"));
    EXPECT_FALSE(sys.log_valid("USERERR.LOG"));  // the part that was written

    // Room again: the cut user log is moved aside and made anew.
    if (disk.mounted()) {
        ASSERT_TRUE(disk.resize("size=1m"));
    }
    ASSERT_TRUE(sys.start());
    EXPECT_EQ(std::string(rtx_host_console_text()), "");
    EXPECT_TRUE(std::filesystem::exists(sys.root.host_path("LOG/USERERR.BAK")));

    // The disk fills up while the task runs: an export cannot be written and is not answered
    // (only the default response comes back); archiving goes on in the logs' own room.
    const std::string filler = disk.mounted() ? disk.fill_up() : "";
    // Injected: the export writes the log's header first, then the archive text.
    if (!disk.mounted()) rtx_host_fail(RTX_OP_FILE_WRITE, 1, 1, RTX_E_INJECTED);
    EXPECT_EQ(export_user_log(sys, "\\LOG\\FULL.TXT"), 0);
    EXPECT_EQ(std::string(rtx_host_console_text()), "");
    sys.report(kUserError, "while-full");
    sys.report(kSystemError, "while-full");
    EXPECT_TRUE(contains(sys.log("USERERR.LOG"), "Rel user while-full"));
    EXPECT_TRUE(contains(sys.log("SYSERR.LOG"), "Rel system while-full"));
    EXPECT_TRUE(sys.log_valid("USERERR.LOG"));
    EXPECT_TRUE(sys.log_valid("SYSERR.LOG"));

    if (!filler.empty()) std::filesystem::remove(filler);
    EXPECT_EQ(export_user_log(sys, "\\LOG\\ROOM.TXT"), 1);
    EXPECT_TRUE(contains(sys.root.read("LOG/ROOM.TXT"), "Rel user while-full"));
    sys.world.reset();
}

}  // namespace
