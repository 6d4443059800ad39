// A single failed file call while a log is set up, or while archiving, erasing or exporting: the
// operation prints exactly its text (or none), never leaves the stream open, and leaves a file
// that either still validates or is moved aside and recreated at the next start.
#include <string>
#include <vector>

#include "log_format.h"
#include "log_test_helpers.h"

using namespace log_test;

namespace {

const std::string kLog = "LOG/USERERR.LOG", kBak = "LOG/USERERR.BAK";

enum class Op { create, check, archive, erase, erase_all, export_log };

struct Fault {
    const char* what;
    Op op;
    unsigned errors;  // archived into records 1, 2, ... of a new log before the fault
    rtx_host_op call;
    std::uint32_t skip;  // calls of that kind that succeed first
    std::string text;
    bool untouched = false;                    // the log is left as it was: the next try works
    std::string archive = "";                  // export: the archive file afterwards
    std::vector<std::uint16_t> numbers = {3};  // erase: the records listed
};

std::vector<Fault> faults() {
    const std::string read = kReadFailed, write = kWriteFailed;
    std::string entries;
    for (unsigned n = 3; n >= 1; --n)
        entries += std::to_string(n) + "\r\n0010" + std::to_string(n - 1) + "\r\nE10" +
                   std::to_string(n - 1) + "\r\n$$$\r\nCOMP\r\n07.MAR.04\r\n09:05:31\r\n";
    return {
        // Creating a missing file: open "rb" (fails: no file), open "wb"; writes: header, 25
        // records, header again; one seek before the last write.
        {"create: open for writing", Op::create, 0, RTX_OP_FILE_OPEN, 1, open_failed()},
        {"create: header", Op::create, 0, RTX_OP_FILE_WRITE, 0, write},
        {"create: fifth record", Op::create, 0, RTX_OP_FILE_WRITE, 5, write},
        {"create: header written again", Op::create, 0, RTX_OP_FILE_WRITE, 26, write},
        {"create: seek back to the header", Op::create, 0, RTX_OP_FILE_SEEK, 0, write},
        // Checking a valid file: open "rb", open "r+b"; seek to the start, read the header,
        // seek to the end; seek to record 1 and read the 25 records at once. A record that
        // read did not bring prints its text when the first walk takes it (4, the first free).
        {"check: read-write open", Op::check, 0, RTX_OP_FILE_OPEN, 1, open_failed()},
        {"check: header read", Op::check, 0, RTX_OP_FILE_READ, 0, ""},
        {"check: seek to the end", Op::check, 0, RTX_OP_FILE_SEEK, 1, ""},
        {"check: seek to the records", Op::check, 0, RTX_OP_FILE_SEEK, 2, position_failed(4)},
        {"check: records read", Op::check, 0, RTX_OP_FILE_READ, 1, read},
        // The first archive on a new log: open; seek+read record 1; seek+write record 1;
        // seek+read header; seek+write header.
        {"archive: open", Op::archive, 0, RTX_OP_FILE_OPEN, 0, open_failed()},
        {"archive: seek to the free record", Op::archive, 0, RTX_OP_FILE_SEEK, 0,
         position_failed(1), true},
        {"archive: read the free record", Op::archive, 0, RTX_OP_FILE_READ, 0, read, true},
        {"archive: write the new record", Op::archive, 0, RTX_OP_FILE_WRITE, 0, write},
        {"archive: read the header", Op::archive, 0, RTX_OP_FILE_READ, 1, read},
        {"archive: seek before the header", Op::archive, 0, RTX_OP_FILE_SEEK, 2, read},
        {"archive: write the header", Op::archive, 0, RTX_OP_FILE_WRITE, 1, write},
        {"archive: seek before the header write", Op::archive, 0, RTX_OP_FILE_SEEK, 3, write},
        // With one error archived, the neighbour (the old newest) is read and written.
        {"archive: read the old newest", Op::archive, 1, RTX_OP_FILE_READ, 1, read},
        {"archive: write the old newest", Op::archive, 1, RTX_OP_FILE_WRITE, 0, write},
        // With 25 archived, the overflow record is made first.
        {"archive: read the oldest", Op::archive, 25, RTX_OP_FILE_READ, 0, read, true},
        {"archive: write the overflow record", Op::archive, 25, RTX_OP_FILE_WRITE, 0, write},
        {"archive: write the next oldest", Op::archive, 25, RTX_OP_FILE_WRITE, 1, write},
        // Erasing record 3 of five errors.
        {"erase: open", Op::erase, 5, RTX_OP_FILE_OPEN, 0, open_failed()},
        {"erase: read the listed record",
         Op::erase,
         5,
         RTX_OP_FILE_READ,
         0,
         read,
         false,
         "",
         {3, 4}},
        {"erase: read a neighbour", Op::erase, 5, RTX_OP_FILE_READ, 1, read},
        {"erase: write a neighbour", Op::erase, 5, RTX_OP_FILE_WRITE, 0, write},
        {"erase: write the freed record", Op::erase, 5, RTX_OP_FILE_WRITE, 2, write},
        {"erase: seek to a record", Op::erase, 5, RTX_OP_FILE_SEEK, 0, position_failed(3)},
        {"erase: header read", Op::erase, 5, RTX_OP_FILE_READ, 3, read},
        {"erase all: open", Op::erase_all, 5, RTX_OP_FILE_OPEN, 0, open_failed()},
        {"erase all: first read", Op::erase_all, 5, RTX_OP_FILE_READ, 1, read},
        {"erase all: read", Op::erase_all, 5, RTX_OP_FILE_READ, 2, read},
        {"erase all: write", Op::erase_all, 5, RTX_OP_FILE_WRITE, 1, write},
        {"erase all: header write", Op::erase_all, 5, RTX_OP_FILE_WRITE, 5, write},
        // Exporting three errors: seek to record 1 and read the 25 records at once; the log's
        // header (seek, read, seek, write); the archive text in one write. A record that the
        // read did not bring prints its text when the chain reaches it (3, the newest, first).
        {"export: records not read", Op::export_log, 3, RTX_OP_FILE_READ, 0, read, false,
         "000\r\n3\r\nN\r\n"},
        {"export: seek to the records", Op::export_log, 3, RTX_OP_FILE_SEEK, 0, position_failed(3),
         false, "000\r\n3\r\nN\r\n"},
        {"export: log header not read", Op::export_log, 3, RTX_OP_FILE_READ, 1, read, false,
         "003\r\n3\r\nN\r\n" + entries},
        {"export: log header not written", Op::export_log, 3, RTX_OP_FILE_WRITE, 0, write, false,
         "003\r\n3\r\nN\r\n" + entries},
        // The log does not open (the archive does): the archive gets the notice, the log and
        // its count of new errors stay.
        {"export: log does not open", Op::export_log, 3, RTX_OP_FILE_OPEN, 1, open_failed(), false,
         "001\r\n1\r\nN\r\n0\r\nARCHIVE FILE CORRUPTED\r\n07.MAR.04\r\n09:05:31\r\n"},
        // The archive text not written: the file stays empty, the export fails silently.
        {"export: archive not written", Op::export_log, 3, RTX_OP_FILE_WRITE, 1, ""},
        {"export: overflow log, archive not written", Op::export_log, 26, RTX_OP_FILE_WRITE, 1, ""},
    };
}

bool run(const Fault& f) {
    if (f.op <= Op::check) return err::init_log_file(1);
    if (f.op == Op::archive) return err::archive_error(1, 7, "text", "COMP", "f.c", 1);
    if (f.op == Op::erase) return erase(1, f.numbers);
    if (f.op == Op::erase_all) return err::erase_all_errors(1);
    return err::export_log(1, "\\LOG\\ARCHIVE.TXT");
}

class LogFaults : public LogTest {};

TEST_F(LogFaults, FailedCallsPrintTheirTextAndLeaveARecoverableFile) {
    for (const Fault& f : faults()) {
        SCOPED_TRACE(f.what);
        err::reset_task_state();
        std::filesystem::remove(path(kLog));
        std::filesystem::remove(path(kBak));
        std::filesystem::remove(path("LOG/ARCHIVE.TXT"));
        start_log();
        archive_n(f.op == Op::check ? 3 : f.errors);
        const std::string image = read(kLog);
        if (f.op <= Op::check) err::reset_task_state();
        if (f.op == Op::create) std::filesystem::remove(path(kLog));
        const std::string before = header();
        rtx_host_fail(f.call, f.skip, 1, RTX_E_INJECTED);
        rtx_host_console_clear();
        // Only a failed check (the file is recreated) and the notice succeed.
        EXPECT_EQ(run(f), f.op == Op::check || f.archive.find("CORRUPTED") != std::string::npos);
        EXPECT_EQ(console(), f.text);
        EXPECT_EQ(err::log_slot(1).stream, nullptr);
        rtx_host_clear_faults();
        // A failed creation switches the log off.
        if (f.op == Op::create) {
            EXPECT_STREQ(err::log_slot(1).path, "");
        }
        // A failed check treats the file as corrupt: it is backed up and replaced.
        if (f.op == Op::check) {
            EXPECT_EQ(read(kBak), image);
            EXPECT_EQ(header(), "0 0 0 0 1");
        }
        // A log that does not open, or whose first record cannot be reached, is left as it
        // was, and the same call works once the fault is gone.
        if (f.untouched || (f.op >= Op::archive && f.call == RTX_OP_FILE_OPEN)) {
            EXPECT_EQ(header(), before);
            EXPECT_TRUE(read(kLog) == image) << "the file changed";
            if (f.op == Op::archive) {
                EXPECT_TRUE(run(f)) << console();
            }
        }
        // Erase all clears the error chain and the count even when a record fails.
        if (f.op == Op::erase_all && f.call != RTX_OP_FILE_OPEN) {
            EXPECT_EQ(err::log_slot(1).header.error_start_record, 0);
            EXPECT_EQ(err::log_slot(1).header.new_records, 0);
        }
        // An export that has begun resets the count of new errors; the archive holds what
        // was written, its count the entries written or tried.
        EXPECT_EQ(read("LOG/ARCHIVE.TXT"), f.archive);
        if (f.op == Op::export_log && f.call != RTX_OP_FILE_OPEN) {
            EXPECT_EQ(err::log_slot(1).header.new_records, 0);
        }
        // The file either still validates, or the next start moves it aside and recreates it.
        const std::string bytes = read(kLog);
        if (!valid(bytes)) {
            err::reset_task_state();
            EXPECT_TRUE(err::init_log_file(1)) << console();
            EXPECT_EQ(read(kBak), bytes);
            EXPECT_TRUE(valid(read(kLog)));
        }
    }
}

// Records that the read did not reach (the file was cut short after the start) end the entries
// with the read failure's text; the first line counts the entries before it.
TEST_F(LogFaults, ExportOfACutFileEndsAtTheFirstRecordNotRead) {
    start_log();
    archive_n(3);
    ASSERT_TRUE(erase(1, {1}));
    archive_n(1, 200);  // record 1 again: the chain runs 1 (newest), 3, 2
    std::filesystem::resize_file(path(kLog), err::LOG_HEADER_SIZE + 2 * err::LOG_RECORD_SIZE);
    EXPECT_FALSE(err::export_log(1, nullptr));
    EXPECT_FALSE(err::export_log(1, "\\LOG\\A.TXT"));
    EXPECT_EQ(console(), kReadFailed);
    EXPECT_EQ(read("LOG/A.TXT"),
              "001\r\n4\r\nN\r\n1\r\n00200\r\nE200\r\n$$$\r\nCOMP\r\n07.MAR.04\r\n09:05:31\r\n");
    EXPECT_EQ(err::log_slot(1).header.new_records, 0);
}

}  // namespace
