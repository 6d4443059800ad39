// Export of a log into an archive file.
#include <string>

#include "log_test_helpers.h"

using namespace log_test;

namespace {

const std::string kUser = "\\LOG\\USERERR.LOG";
const char* kArchive = "\\LOG\\ARCHIVE.TXT";

std::string entry(unsigned nr, unsigned code, const std::string& text,
                  const std::string& component) {
    return std::to_string(nr) + "\r\n" + num(code, 5) + "\r\n" + text + "\r\n$$$\r\n" + component +
           "\r\n" + kDate + "\r\n" + kTime + "\r\n";
}

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
        entry(2, 7, "plain", "COMP") + entry(1, 42, "line one\r\nline two", "");  // blank component
    ASSERT_TRUE(err::export_log(1, kArchive));
    EXPECT_EQ(archive(), "002\r\n2\r\nN\r\n" + entries);
    EXPECT_EQ(header(1), hdr(2, 1, 0, 0, 3));
    EXPECT_EQ(hfield(bytes_of(1), H_NEW), "000");
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
    expected += entry(2, 125, "E125", "COMP");
    for (unsigned n = 25; n >= 3; --n)
        expected += entry(n, 99 + n, "E" + std::to_string(99 + n), "COMP");
    ASSERT_TRUE(err::export_log(0, kArchive));
    EXPECT_EQ(archive(), expected);
    EXPECT_EQ(header(0), hdr(2, 3, 0, 1, 0));
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
    EXPECT_EQ(console(), "error_task:\n-----------\nFailed to open file " + kUser + "\n");
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

TEST_F(LogExport, FailuresKeepTheCountTrueAndResetNewRecords) {
    const std::string read =
        "error_task:\n-----------\nFailed to read from log file " + kUser + "\n";
    const std::string write =
        "error_task:\n-------------Failed to write to log file " + kUser + "\n";
    struct Case {
        const char* what;
        rtx_host_op op;
        std::uint32_t skip;
        std::string text;
        std::string archive;
    };
    // Three errors in records 1..3. Reads: records 3, 2, 1, then the header. Writes: the
    // head, three entries, the log header, the count. Each read and write has its seek.
    const std::string e3 = entry(3, 102, "E102", "COMP"), e2 = entry(2, 101, "E101", "COMP"),
                      e1 = entry(1, 100, "E100", "COMP");
    const Case cases[] = {
        {"second record unreadable", RTX_OP_FILE_READ, 1, read, "001\r\n3\r\nN\r\n" + e3},
        {"head not written", RTX_OP_FILE_WRITE, 0, "", "000\r\n"},
        {"second entry not written", RTX_OP_FILE_WRITE, 2, "", "001\r\n3\r\nN\r\n" + e3},
        {"log header not written", RTX_OP_FILE_WRITE, 4, write, "003\r\n3\r\nN\r\n" + e3 + e2 + e1},
        {"count not written", RTX_OP_FILE_WRITE, 5, "", "000\r\n3\r\nN\r\n" + e3 + e2 + e1},
        // Seeks: three records, two in close_log, then back to the archive's first line.
        {"seek back to the count", RTX_OP_FILE_SEEK, 5, "", "000\r\n3\r\nN\r\n" + e3 + e2 + e1},
        {"seek to the second record", RTX_OP_FILE_SEEK, 1,
         "error_task:\n-----------\nFailed to position to record 2\nin log file " + kUser + "\n",
         "001\r\n3\r\nN\r\n" + e3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        err::reset_task_state();
        std::filesystem::remove(user_path());
        rtx_host_clear_faults();
        start_log(1);
        archive_n(1, 3);
        rtx_host_fail(c.op, c.skip, 1, RTX_E_INJECTED);
        rtx_host_console_clear();
        EXPECT_FALSE(err::export_log(1, kArchive));
        EXPECT_EQ(console(), c.text);
        EXPECT_EQ(archive(), c.archive);
        EXPECT_EQ(header(1).new_records, 0);
        EXPECT_EQ(err::log_slot(1).stream, nullptr);
        rtx_host_clear_faults();
        expect_valid_or_recovered(1);
    }
}

}  // namespace
