// Export of a log into an archive file.
#include <string>

#include "log_test_helpers.h"

using namespace log_test;

namespace {

const char* kArchive = "\\LOG\\ARCHIVE.TXT";

const std::string kNotice = std::string("001\r\n1\r\nN\r\n0\r\nARCHIVE FILE CORRUPTED\r\n") +
                            kDate + "\r\n" + kTime + "\r\n";

class LogExport : public LogTest {
  protected:
    std::string archive() const { return read_file(root_ / "LOG" / "ARCHIVE.TXT"); }
};

TEST_F(LogExport, EmptyLog) {
    start_log(1);
    ASSERT_TRUE(err::export_log(1, kArchive));
    EXPECT_EQ(archive(), "000\r\n0\r\nN\r\n");
    EXPECT_EQ(bytes_of(1), new_file());  // only the header was rewritten, unchanged
    EXPECT_EQ(console(), "");
}

TEST_F(LogExport, EntriesNewestFirstAndTheCountOfNewErrorsReset) {
    start_log(1);
    ASSERT_TRUE(err::archive_error(1, 42, "line one\nline two", "", "f.c", 1));
    ASSERT_TRUE(err::archive_error(1, 7, "plain  ", "COMP", "f.c", 2));
    const std::string entries =
        archive_entry(2, 7, "plain", "COMP") +
        archive_entry(1, 42, "line one\r\nline two", "");  // blank component
    ASSERT_TRUE(err::export_log(1, kArchive));
    EXPECT_EQ(archive(), "002\r\n2\r\nN\r\n" + entries);
    EXPECT_EQ(header(1), hdr(2, 1, 0, 0, 3));
    EXPECT_EQ(bytes_of(1).substr(0, kHeader), header_bytes(hdr(2, 1, 0, 0, 3)));
    EXPECT_TRUE(check_bytes(bytes_of(1)).ok());

    // A second export in a row: the head shows 0 new errors; the file is written anew.
    ASSERT_TRUE(err::export_log(1, kArchive));
    EXPECT_EQ(archive(), "002\r\n0\r\nN\r\n" + entries);
    EXPECT_EQ(console(), "");
}

TEST_F(LogExport, FullLogWithOverflowRecord) {
    start_log(0);
    archive_n(0, 26);  // overflow record 1; errors 3 (oldest) .. 25, 2 (newest)
    std::string expected = "025\r\n24\r\nO\r\n";
    expected += std::string("1\r\n\r\nMESSAGE BUFFER OVERFLOW\r\n$$$\r\n\r\n") + kDate + "\r\n" +
                kTime + "\r\n";
    expected += archive_entry(2, 125, "E125", "COMP");
    for (unsigned n = 25; n >= 3; --n)
        expected += archive_entry(n, 99 + n, "E" + std::to_string(99 + n), "COMP");
    ASSERT_TRUE(err::export_log(0, kArchive));
    EXPECT_EQ(archive(), expected);
    EXPECT_EQ(header(0), hdr(2, 3, 0, 1, 0));
}

// The chain is walked through the records read at once; a record that read did not reach (the
// file was cut short after the start) ends the entries with the read failure's text, and the
// first line counts the entries before it.
TEST_F(LogExport, RecordBeyondTheEndOfACutFileEndsTheEntries) {
    start_log(1);
    archive_n(1, 3);             // records 1, 2, 3
    ASSERT_TRUE(erase(1, {1}));  // record 1 freed ...
    archive_n(1, 1, 200);        // ... and taken again: the chain runs 1, 3, 2
    std::filesystem::resize_file(user_path(), rec_at(3));  // records 1 and 2 are left
    EXPECT_FALSE(err::export_log(1, kArchive));
    EXPECT_EQ(console(), read_failed());
    EXPECT_EQ(archive(), "001\r\n4\r\nN\r\n" + archive_entry(1, 200, "E200", "COMP"));
    EXPECT_EQ(header(1).new_records, 0);
}

TEST_F(LogExport, LogThatCannotBeOpenedGivesTheNotice) {
    // Switched off at start: no text.
    write_ini("[ErrorTask]\nUserLogFile=\n");
    EXPECT_FALSE(err::init_log_file(1));
    rtx_host_console_clear();
    ASSERT_TRUE(err::export_log(1, kArchive));
    EXPECT_EQ(archive(), kNotice);
    EXPECT_EQ(console(), "");

    // The file does not open: the open prints its text; new_records stays.
    err::reset_task_state();
    write_ini("[ErrorTask]\nUserLogFile=\\LOG\\USERERR.LOG\n");
    start_log(1);
    archive_n(1, 3);
    const std::string log_before = bytes_of(1);
    rtx_host_fail(RTX_OP_FILE_OPEN, 1, 1, RTX_E_INJECTED);  // the archive opens, the log not
    ASSERT_TRUE(err::export_log(1, kArchive));
    EXPECT_EQ(console(), open_failed());
    EXPECT_EQ(archive(), kNotice);
    EXPECT_EQ(header(1).new_records, 3);
    EXPECT_EQ(bytes_of(1), log_before);

    // Writing the notice fails: false.
    rtx_host_clear_faults();
    err::log_slot(1).path[0] = 0;
    rtx_host_fail_next(RTX_OP_FILE_WRITE, 1, RTX_E_INJECTED);
    EXPECT_FALSE(err::export_log(1, kArchive));
}

TEST_F(LogExport, ArchiveFileThatCannotBeCreatedLeavesTheLogAlone) {
    start_log(1);
    archive_n(1, 2);
    const std::string before = bytes_of(1);
    EXPECT_FALSE(err::export_log(1, "\\NO_SUCH_FOLDER\\ARCHIVE.TXT"));
    EXPECT_FALSE(err::export_log(1, nullptr));
    EXPECT_EQ(header(1).new_records, 2);
    EXPECT_EQ(bytes_of(1), before);
    EXPECT_EQ(console(), "");
}

// An archive file never takes a log's place: the file or the backup name of either log, in any
// spelling, is refused with its text before any file is touched.
TEST_F(LogExport, ExportOntoALogOrItsBackupIsRefused) {
    start_log(0);
    start_log(1);
    archive_n(1, 2);
    write_file(bak_of(0), "older backup");
    const std::string system = bytes_of(0), user = bytes_of(1);
    for (const char* name : {"\\LOG\\USERERR.LOG", "D:\\LOG\\SYSERR.LOG", "LOG/./USERERR.LOG",
                             "\\LOG\\USERERR.BAK", "LOG\\\\SYSERR.BAK"}) {
        SCOPED_TRACE(name);
        rtx_host_console_clear();
        EXPECT_FALSE(err::export_log(1, name));
        EXPECT_EQ(console(), "error_task:\n-----------\nExport refused: " + std::string(name) +
                                 " is an error log or its backup\n");
    }
    EXPECT_EQ(bytes_of(0), system);
    EXPECT_EQ(bytes_of(1), user);
    EXPECT_EQ(header(1).new_records, 2);
    EXPECT_EQ(read_file(bak_of(0)), "older backup");
    EXPECT_FALSE(std::filesystem::exists(bak_of(1)));
    // A name beside them is an archive file like any other.
    rtx_host_console_clear();
    ASSERT_TRUE(err::export_log(1, "\\LOG\\USERERR.TXT"));
    EXPECT_EQ(console(), "");
}

}  // namespace
