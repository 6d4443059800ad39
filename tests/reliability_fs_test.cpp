// File-system faults under the error logs: a read-only or missing LOG folder, a full disk, a log
// replaced by a folder. In each the task either starts or stops in its start-up with the exact
// texts, never crashes, and starts normally on the next start once the fault is gone, with the
// errors archived before the fault still in their log.
//
// Some faults cannot be made real everywhere: a read-only folder does not stop root, and a
// small file system needs the right to mount one. Where the real fault is not available the
// same failure is injected into the executive's file operations (the module sees the same
// failed open, rename or short write) and the test records which way it went (property
// "fault": "real" or "injected").
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "reliability_system.h"

namespace {

namespace fs = std::filesystem;
using reliability::Bytes;
using reliability::contains;
using reliability::kSystemError;
using reliability::kUserError;
using reliability::System;
using Start = reliability::System::Start;

const std::string kStartFailed =
    "Error Task Initialization Error\n-------------------------------\nrtx_status.status:     "
    "0000\nSuspending Error Task\n---------------------\n";
const std::string kOpenFailedSystem =
    "error_task:\n-----------\nFailed to open file \\LOG\\SYSERR.LOG\n";
const std::string kWriteFailedUser =
    "error_task:\n-------------Failed to write to log file \\LOG\\USERERR.LOG\n";
const std::string kRenameFailedSystem =
    "error_task (open_log_file):\n---------------------------\nFailed to rename file "
    "\\LOG\\SYSERR.LOG to \\LOG\\SYSERR.BAK\n";

// After a normal start: both logs valid, and a new report archived in each.
void expect_working(System& sys, const std::string& tag) {
    EXPECT_TRUE(sys.log_valid("SYSERR.LOG"));
    EXPECT_TRUE(sys.log_valid("USERERR.LOG"));
    sys.report(kUserError, tag);
    sys.report(kSystemError, tag);
    EXPECT_TRUE(contains(sys.log("USERERR.LOG"), "Rel user " + tag));
    EXPECT_TRUE(contains(sys.log("SYSERR.LOG"), "Rel system " + tag));
    EXPECT_TRUE(sys.log_valid("SYSERR.LOG"));
    EXPECT_TRUE(sys.log_valid("USERERR.LOG"));
}

// ERR_RELIABILITY_INJECT=1 takes the injected way even where the real fault is available, so
// that both ways can be run on one machine.
bool force_injection() {
    const char* v = std::getenv("ERR_RELIABILITY_INJECT");
    return v != nullptr && v[0] == '1';
}

// Whether a file can still be created in folder although its write bits are off (root can).
bool writes_ignore_permissions(const std::string& folder) {
    const std::string probe = folder + "/probe";
    FILE* f = std::fopen(probe.c_str(), "wb");
    if (!f) return false;
    std::fclose(f);
    std::remove(probe.c_str());
    return true;
}

// Command 610 (export the user log) to name; the number of blocks in the answer (0xFFFF: no
// answer).
std::uint16_t export_user_log(System& sys, const std::string& name) {
    Bytes m(MSG_HEADER_SIZE + EXPORT_FILE_NAME + name.size() + 1, 0);
    m[MSG_BLOCK_COUNT] = 1;
    const Bytes::iterator block = m.begin() + MSG_HEADER_SIZE;
    block[BLK_COMMAND] = CMD_EXPORT_USER_LOG & 0xFF;
    block[BLK_COMMAND + 1] = CMD_EXPORT_USER_LOG >> 8;
    block[BLK_LENGTH] = std::uint8_t(m.size() - MSG_HEADER_SIZE);
    std::copy(name.begin(), name.end(), block + EXPORT_FILE_NAME);
    const Bytes answer = sys.request(m);
    return answer.size() < MSG_HEADER_SIZE
               ? 0xFFFF
               : answer[MSG_BLOCK_COUNT] | answer[MSG_BLOCK_COUNT + 1] << 8;
}

// A first run that archives one user error, to be found again after the fault.
void first_run(System& sys, const std::string& tag) {
    ASSERT_EQ(sys.start(), Start::serving);
    sys.report(kUserError, tag);
    sys.stop();
}

// A start once the fault is gone: serving, silent, the error of the first run (if any) still
// there, both logs working.
void expect_recovered(System& sys, const std::string& kept, const std::string& tag) {
    ASSERT_EQ(sys.start(), Start::serving);
    EXPECT_EQ(sys.console(), "");
    if (!kept.empty()) {
        EXPECT_TRUE(contains(sys.log("USERERR.LOG"), "Rel user " + kept));
    }
    expect_working(sys, tag);
}

// A small file system mounted over a folder, when the process may mount one.
class SmallDisk {
  public:
    SmallDisk(const std::string& folder, const char* size) : folder_(folder) {
        mounted_ = !force_injection() && mount("tmpfs", folder.c_str(), "tmpfs", 0, size) == 0;
    }
    ~SmallDisk() {
        if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    bool resize(const char* size) {
        return mount("tmpfs", folder_.c_str(), "tmpfs", MS_REMOUNT, size) == 0;
    }

  private:
    std::string folder_;
    bool mounted_ = false;
};

// Fills the file system of folder until a write fails; returns the filler's path.
std::string fill_up(const std::string& folder) {
    const std::string filler = folder + "/FILLER";
    FILE* f = std::fopen(filler.c_str(), "wb");
    if (!f) return filler;
    std::string chunk(4096, 'f');
    while (std::fwrite(chunk.data(), 1, chunk.size(), f) == chunk.size() && std::fflush(f) == 0) {
    }
    // What is left is smaller than one block: single bytes until that fails too.
    while (std::fputc('f', f) != EOF && std::fflush(f) == 0) {
    }
    std::fclose(f);
    return filler;
}

TEST(ReliabilityFs, MissingLogFolderStopsTheStartAndRecovers) {
    System sys;
    fs::remove_all(sys.path("LOG"));

    ASSERT_EQ(sys.start(), Start::suspended);
    EXPECT_EQ(sys.console(), kOpenFailedSystem + kStartFailed);
    EXPECT_FALSE(fs::exists(sys.path("LOG")));  // the task never makes folders

    fs::create_directory(sys.path("LOG"));
    expect_recovered(sys, "", "after-folder");
}

TEST(ReliabilityFs, ReadOnlyLogFolderStopsCreationAndRecovers) {
    System sys;
    first_run(sys, "before");

    // A log that must be created in a read-only folder cannot be: the start stops.
    fs::remove(sys.path("LOG/SYSERR.LOG"));
    ASSERT_EQ(chmod(sys.path("LOG").c_str(), 0555), 0);
    const bool injected = force_injection() || writes_ignore_permissions(sys.path("LOG"));
    ::testing::Test::RecordProperty("fault", injected ? "injected" : "real");
    ASSERT_EQ(sys.start([&] {
        // The first open of the start is the read-only probe of the missing file, the second
        // the creation, which the folder refuses.
        if (injected) rtx_host_fail(RTX_OP_FILE_OPEN, 1, 1, RTX_E_INJECTED);
    }),
              Start::suspended);
    EXPECT_EQ(sys.console(), kOpenFailedSystem + kStartFailed);
    EXPECT_FALSE(fs::exists(sys.path("LOG/SYSERR.LOG")));

    // A corrupt log there cannot be moved aside: it is rewritten in place, and the logs that
    // exist stay usable (they are written in place too).
    ASSERT_EQ(chmod(sys.path("LOG").c_str(), 0755), 0);
    std::ofstream(sys.path("LOG/SYSERR.LOG")) << "not a log";
    ASSERT_EQ(chmod(sys.path("LOG").c_str(), 0555), 0);
    ASSERT_EQ(sys.start([&] {
        if (injected) rtx_host_fail(RTX_OP_FILE_RENAME, 0, 1, RTX_E_INJECTED);
    }),
              Start::serving);
    EXPECT_EQ(sys.console(), kRenameFailedSystem);
    EXPECT_FALSE(fs::exists(sys.path("LOG/SYSERR.BAK")));
    EXPECT_TRUE(contains(sys.log("USERERR.LOG"), "Rel user before"));
    expect_working(sys, "read-only");

    ASSERT_EQ(chmod(sys.path("LOG").c_str(), 0755), 0);
    expect_recovered(sys, "before", "writable");
    EXPECT_TRUE(contains(sys.log("USERERR.LOG"), "Rel user read-only"));
}

TEST(ReliabilityFs, FullDiskStopsCreationFailsExportAndRecovers) {
    System sys;
    // 20 KiB: room for the system log (15848 bytes) but not for the user log as well.
    SmallDisk disk(sys.path("LOG"), "size=20k");
    ::testing::Test::RecordProperty("fault", disk.mounted() ? "real" : "injected");
    ASSERT_EQ(sys.start([&] {
        // Injected: the system log's 27 writes (header, 25 records, header) succeed, the user
        // log's first falls short.
        if (!disk.mounted()) rtx_host_fail(RTX_OP_FILE_WRITE, 27, 1, RTX_E_INJECTED);
    }),
              Start::suspended);
    EXPECT_EQ(sys.console(), kWriteFailedUser + kStartFailed);
    EXPECT_TRUE(sys.log_valid("SYSERR.LOG"));
    EXPECT_FALSE(sys.log_valid("USERERR.LOG"));  // the part that was written

    // Room again: the cut user log is moved aside and made anew.
    if (disk.mounted()) {
        ASSERT_TRUE(disk.resize("size=1m"));
    }
    expect_recovered(sys, "", "room");
    EXPECT_TRUE(fs::exists(sys.path("LOG/USERERR.BAK")));

    // The disk fills up while the task runs: an export cannot be written and is not answered
    // (only the default response comes back); archiving goes on, the logs keep their size.
    std::string filler;
    if (disk.mounted()) filler = fill_up(sys.path("LOG"));
    if (!disk.mounted()) rtx_host_fail_next(RTX_OP_FILE_WRITE, 1, RTX_E_INJECTED);
    EXPECT_EQ(export_user_log(sys, "\\LOG\\FULL.TXT"), 0);
    EXPECT_EQ(sys.console(), "");
    sys.report(kUserError, "while-full");
    EXPECT_TRUE(contains(sys.log("USERERR.LOG"), "Rel user while-full"));
    EXPECT_TRUE(sys.log_valid("USERERR.LOG"));
    EXPECT_TRUE(sys.log_valid("SYSERR.LOG"));

    if (!filler.empty()) fs::remove(filler);
    EXPECT_EQ(export_user_log(sys, "\\LOG\\ROOM.TXT"), 1);
    EXPECT_TRUE(contains(sys.file("LOG/ROOM.TXT"), "Rel user while-full"));
    sys.stop();
}

TEST(ReliabilityFs, LogReplacedByAFolderStopsTheStartAndKeepsTheBackup) {
    System sys;
    first_run(sys, "kept");

    // A folder where the system log belongs: no file opens there, in any mode, so the log
    // cannot be set up and the start stops. Nothing is moved: the older backup stays.
    fs::remove(sys.path("LOG/SYSERR.LOG"));
    fs::create_directories(sys.path("LOG/SYSERR.LOG/inside"));
    std::ofstream(sys.path("LOG/SYSERR.BAK")) << "older backup";
    ASSERT_EQ(sys.start(), Start::suspended);
    EXPECT_EQ(sys.console(), kOpenFailedSystem + kStartFailed);
    EXPECT_TRUE(fs::is_directory(sys.path("LOG/SYSERR.LOG/inside")));
    const Bytes backup = sys.file("LOG/SYSERR.BAK");
    EXPECT_EQ(std::string(backup.begin(), backup.end()), "older backup");

    sys.stop();
    fs::remove_all(sys.path("LOG/SYSERR.LOG"));
    expect_recovered(sys, "kept", "cleared");
}

}  // namespace
