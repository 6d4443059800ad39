// A full disk under the error logs: the start stops when a log cannot be created and goes on
// normally once there is room; while the task runs, an export that cannot be written is not
// answered and archiving goes on. A 20 KiB file system (room for one log) is mounted over LOG
// where the process may mount one; elsewhere the executive's writes fail by injection (property
// "fault"; ERR_RELIABILITY_INJECT=1 forces injection). Other file-system faults at start: the
// log_start_faults script case.
#include <sys/mount.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "reliability_system.h"

namespace {

using namespace host_system;
using reliability::contains;
using reliability::System;

// Command 610 (export the user log) to name; the block count of the answer (0xFFFF: none).
std::uint16_t export_user_log(System& sys, const std::string& name) {
    EXPECT_TRUE(sys.world->send_asking(
        message(0, {block(CMD_EXPORT_USER_LOG, concat({words({0}), text_bytes(name, true)}))})));
    const Reply reply = sys.world->receive_reply(System::kWait);
    return System::answered(reply) ? get16(reply.message, MSG_BLOCK_COUNT) : 0xFFFF;
}

TEST(ReliabilityFs, FullDiskStopsCreationFailsExportAndRecovers) {
    System sys;
    const std::string log = sys.root.host_path("LOG"), filler = log + "/FILLER";
    const char* inject = std::getenv("ERR_RELIABILITY_INJECT");
    const bool real =
        !(inject && *inject == '1') && mount("tmpfs", log.c_str(), "tmpfs", 0, "size=20k") == 0;
    ::testing::Test::RecordProperty("fault", real ? "real" : "injected");
    const std::shared_ptr<void> unmount(nullptr, [&](void*) {
        if (real) umount2(log.c_str(), MNT_DETACH);
    });
    ASSERT_FALSE(sys.start([&] {
        // Injected: the system log's 27 writes (header, 25 records, header) succeed, the user
        // log's first falls short.
        if (!real) rtx_host_fail(RTX_OP_FILE_WRITE, 27, 1, RTX_E_INJECTED);
    }));
    EXPECT_STREQ(rtx_host_console_text(),
                 "error_task:\n-------------Failed to write to log file \\LOG\\USERERR.LOG\n"
                 "Error Task Initialization Error\n-------------------------------\n"
                 "rtx_status.status:     0000\nSuspending Error Task\n---------------------\n");
    EXPECT_TRUE(sys.log_valid("SYSERR.LOG"));
    EXPECT_FALSE(sys.log_valid("USERERR.LOG"));  // the part that was written

    // Room again: the cut user log is moved aside and made anew.
    if (real) {
        ASSERT_EQ(mount("tmpfs", log.c_str(), "tmpfs", MS_REMOUNT, "size=1m"), 0);
    }
    ASSERT_TRUE(sys.start());
    EXPECT_STREQ(rtx_host_console_text(), "");
    EXPECT_TRUE(std::filesystem::exists(log + "/USERERR.BAK"));

    // The disk fills up to its last byte while the task runs: an export cannot be written and
    // is not answered (only the default response comes back); archiving goes on in the logs'
    // own room. Injected: the export writes the log's header first, then the archive text.
    if (FILE* f = real ? std::fopen(filler.c_str(), "wb") : nullptr) {
        const std::string chunk(4096, 'f');
        while (std::fwrite(chunk.data(), 1, chunk.size(), f) == chunk.size() && !std::fflush(f)) {
        }
        while (std::fputc('f', f) != EOF && !std::fflush(f)) {
        }
        std::fclose(f);
    }
    if (!real) rtx_host_fail(RTX_OP_FILE_WRITE, 1, 1, RTX_E_INJECTED);
    EXPECT_EQ(export_user_log(sys, "\\LOG\\FULL.TXT"), 0);
    EXPECT_STREQ(rtx_host_console_text(), "");
    EReportError("full.c", 1, reliability::kUserError, "while-full");
    EXPECT_TRUE(sys.sync());
    EXPECT_TRUE(contains(sys.log("USERERR.LOG"), "Rel user while-full"));
    EXPECT_TRUE(sys.log_valid("USERERR.LOG"));

    std::filesystem::remove(filler);
    EXPECT_EQ(export_user_log(sys, "\\LOG\\ROOM.TXT"), 1);
    EXPECT_TRUE(contains(sys.root.read("LOG/ROOM.TXT"), "Rel user while-full"));
    sys.world.reset();
}

}  // namespace
