// Erasing selected errors and all errors.
#include <cstdint>
#include <string>
#include <vector>

#include "log_test_helpers.h"

using namespace log_test;

namespace {

const std::string kUser = "\\LOG\\USERERR.LOG";

// A command block of 616/617: 8-byte head, count at byte 8, numbers from byte 10. count may
// differ from the numbers given (to test the bound by the block's length).
std::vector<std::uint8_t> erase_block(const std::vector<std::uint16_t>& numbers,
                                      std::uint16_t count) {
    std::vector<std::uint8_t> b(10 + 2 * numbers.size(), 0);
    b[0] = 616 & 0xFF;
    b[1] = 616 >> 8;
    b[2] = static_cast<std::uint8_t>(b.size());
    b[8] = static_cast<std::uint8_t>(count);
    b[9] = static_cast<std::uint8_t>(count >> 8);
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        b[10 + 2 * i] = static_cast<std::uint8_t>(numbers[i]);
        b[11 + 2 * i] = static_cast<std::uint8_t>(numbers[i] >> 8);
    }
    return b;
}
std::vector<std::uint8_t> erase_block(const std::vector<std::uint16_t>& numbers) {
    return erase_block(numbers, static_cast<std::uint16_t>(numbers.size()));
}

bool erase(int log_id, const std::vector<std::uint8_t>& block) {
    return err::erase_selected_errors(log_id, block.data(), block.size());
}

// A freed record: blanks and 000 next, its date, time, file and line kept.
void expect_freed(const std::string& b, unsigned n, const std::string& previous) {
    SCOPED_TRACE("record " + std::to_string(n));
    EXPECT_EQ(rfield(b, n, R_STATE, 1), "E");
    EXPECT_EQ(rfield(b, n, R_CODE, 5), "00000");
    EXPECT_EQ(rfield(b, n, R_TEXT, 80), std::string(80, ' '));
    EXPECT_EQ(rfield(b, n, R_COMP, 15), std::string(15, ' '));
    EXPECT_EQ(rfield(b, n, R_NEXT, 3), "000");
    EXPECT_EQ(rfield(b, n, R_PREV, 3), previous);
    EXPECT_EQ(rfield(b, n, R_DATE, 9), kDate);
    EXPECT_EQ(rfield(b, n, R_TIME, 8), kTime);
    EXPECT_EQ(rfield(b, n, R_FILE, 50), pad("file.c", 50));
    EXPECT_EQ(rfield(b, n, R_LINE, 6), "10    ");
}

class LogErase : public LogTest {
  protected:
    // Five errors in records 1 (oldest) to 5 (newest), free chain 6..25.
    void five_errors() {
        start_log(1);
        archive_n(1, 5);
        ASSERT_EQ(header(1), hdr(5, 1, 5, 0, 6));
    }
};

TEST_F(LogErase, NewestOldestAndMiddleAreUnlinked) {
    five_errors();
    ASSERT_TRUE(erase(1, erase_block({5})));   // newest
    EXPECT_EQ(header(1), hdr(4, 1, 5, 0, 5));  // new_records unchanged
    std::string b = bytes_of(1);
    expect_freed(b, 5, "006");
    EXPECT_EQ(rfield(b, 4, R_NEXT, 3), "000");
    EXPECT_EQ(hfield(b, H_START), "004");
    EXPECT_EQ(hfield(b, H_EMPTY), "005");

    ASSERT_TRUE(erase(1, erase_block({1})));  // oldest
    EXPECT_EQ(header(1), hdr(4, 2, 5, 0, 1));
    b = bytes_of(1);
    expect_freed(b, 1, "005");
    EXPECT_EQ(rfield(b, 2, R_PREV, 3), "000");

    ASSERT_TRUE(erase(1, erase_block({3})));  // middle
    EXPECT_EQ(header(1), hdr(4, 2, 5, 0, 3));
    b = bytes_of(1);
    expect_freed(b, 3, "001");
    EXPECT_EQ(rfield(b, 2, R_NEXT, 3), "004");
    EXPECT_EQ(rfield(b, 4, R_PREV, 3), "002");
    EXPECT_TRUE(check_bytes(b).ok());

    // The next error takes the record freed last.
    archive_n(1, 1, 300);
    EXPECT_EQ(rfield(bytes_of(1), 3, R_CODE, 5), "00300");
    EXPECT_EQ(header(1), hdr(3, 2, 6, 0, 1));
    EXPECT_EQ(console(), "");
}

TEST_F(LogErase, OnlyErrorLeavesAnEmptyChain) {
    start_log(1);
    archive_n(1, 1);
    ASSERT_TRUE(erase(1, erase_block({1})));
    EXPECT_EQ(header(1), hdr(0, 0, 1, 0, 1));
    std::string b = bytes_of(1);
    EXPECT_EQ(b.substr(0, kHeader), header_bytes(0, 0, 1, 0, 1));
    expect_freed(b, 1, "002");
    EXPECT_TRUE(check_bytes(b).ok());
}

TEST_F(LogErase, SelectionEdgeCases) {
    five_errors();
    // Listed twice: erased once, the second time passed over without failure.
    ASSERT_TRUE(erase(1, erase_block({3, 3})));
    EXPECT_EQ(header(1), hdr(5, 1, 5, 0, 3));
    EXPECT_EQ(rfield(bytes_of(1), 3, R_PREV, 3), "006");  // not pushed twice

    // Numbers 0 and 26 fail quietly; the others are still erased.
    rtx_host_console_clear();
    EXPECT_FALSE(erase(1, erase_block({0, 2, 26})));
    EXPECT_EQ(console(), "");
    EXPECT_EQ(header(1), hdr(5, 1, 5, 0, 2));

    // The count says 5 but the block holds two numbers: only those are read.
    ASSERT_TRUE(erase(1, erase_block({4, 1}, 5)));
    EXPECT_EQ(header(1), hdr(5, 5, 5, 0, 1));
    // A block too short for its count field is an empty list.
    std::vector<std::uint8_t> stub = erase_block({}, 0);
    ASSERT_TRUE(err::erase_selected_errors(1, stub.data(), 9));
    // An empty list only rewrites the header.
    const std::string before = bytes_of(1);
    ASSERT_TRUE(erase(1, erase_block({})));
    EXPECT_EQ(bytes_of(1), before);
    EXPECT_EQ(header(1), hdr(5, 5, 5, 0, 1));
    EXPECT_TRUE(check_bytes(bytes_of(1)).ok());
}

TEST_F(LogErase, OverflowRecordCanBeErasedAndComesBack) {
    start_log(1);
    archive_n(1, 26);  // record 1 overflow, errors 3 (oldest) .. 25, 2 (newest)
    ASSERT_EQ(header(1), hdr(2, 3, 24, 1, 0));
    ASSERT_TRUE(erase(1, erase_block({1})));
    EXPECT_EQ(header(1), hdr(2, 3, 24, 0, 1));
    std::string b = bytes_of(1);
    EXPECT_EQ(rfield(b, 1, R_STATE, 1), "E");
    EXPECT_EQ(rfield(b, 1, R_TEXT, 80), std::string(80, ' '));
    EXPECT_EQ(rfield(b, 1, R_PREV, 3), "000");
    EXPECT_EQ(rfield(b, 3, R_PREV, 3), "000");  // the error chain is not touched
    EXPECT_TRUE(check_bytes(b).ok());

    // The next error takes the freed record; new_records may reach 25 again.
    archive_n(1, 1, 500);
    EXPECT_EQ(header(1), hdr(1, 3, 25, 0, 0));
    // Full again: a new overflow record is made from the oldest (record 3).
    archive_n(1, 1, 501);
    EXPECT_EQ(header(1), hdr(4, 5, 24, 3, 0));
    EXPECT_EQ(rfield(bytes_of(1), 3, R_TEXT, 23), "MESSAGE BUFFER OVERFLOW");
    EXPECT_TRUE(check_bytes(bytes_of(1)).ok());
}

TEST_F(LogErase, EraseAllWithoutOverflowRecord) {
    five_errors();
    ASSERT_TRUE(err::erase_all_errors(1));
    EXPECT_EQ(header(1), hdr(0, 0, 0, 0, 1));
    std::string b = bytes_of(1);
    EXPECT_EQ(b.substr(0, kHeader), header_bytes(0, 0, 0, 0, 1));
    // Free chain: the former errors from the oldest to the newest, then 6..25.
    for (unsigned n = 1; n <= 5; ++n) expect_freed(b, n, num(n + 1, 3));
    EXPECT_TRUE(check_bytes(b).ok());
    archive_n(1, 1, 700);
    EXPECT_EQ(header(1), hdr(1, 1, 1, 0, 2));

    // On an empty log without an overflow record only the header is rewritten.
    ASSERT_TRUE(err::erase_all_errors(1));
    const std::string before = bytes_of(1);
    ASSERT_TRUE(err::erase_all_errors(1));
    EXPECT_EQ(bytes_of(1), before);
    EXPECT_EQ(console(), "");
}

TEST_F(LogErase, EraseAllWithOverflowRecord) {
    start_log(1);
    archive_n(1, 26);
    ASSERT_TRUE(err::erase_all_errors(1));
    EXPECT_EQ(header(1), hdr(0, 0, 0, 0, 1));
    std::string b = bytes_of(1);
    // The overflow record heads the free chain and keeps its text and code.
    EXPECT_EQ(rfield(b, 1, R_STATE, 1), "E");
    EXPECT_EQ(rfield(b, 1, R_PREV, 3), "003");
    EXPECT_EQ(rfield(b, 1, R_TEXT, 23), "MESSAGE BUFFER OVERFLOW");
    // Then the former errors oldest to newest: 3, 4, ..., 25, 2.
    for (unsigned n = 3; n < 25; ++n) EXPECT_EQ(rfield(b, n, R_PREV, 3), num(n + 1, 3));
    EXPECT_EQ(rfield(b, 25, R_PREV, 3), "002");
    EXPECT_EQ(rfield(b, 2, R_PREV, 3), "000");
    EXPECT_TRUE(check_bytes(b).ok());

    // The next error goes into the former overflow record.
    archive_n(1, 1, 800);
    EXPECT_EQ(header(1), hdr(1, 1, 1, 0, 3));
    b = bytes_of(1);
    EXPECT_EQ(rfield(b, 1, R_CODE, 5), "00800");
    EXPECT_EQ(rfield(b, 1, R_TEXT, 80), pad("E800", 80));
}

TEST_F(LogErase, FailuresPrintTheirTextAndLeaveARecoverableFile) {
    const std::string read =
        "error_task:\n-----------\nFailed to read from log file " + kUser + "\n";
    const std::string write =
        "error_task:\n-------------Failed to write to log file " + kUser + "\n";
    struct Case {
        const char* what;
        bool all;
        std::vector<std::uint16_t> numbers;
        rtx_host_op op;
        std::uint32_t skip;
        std::string text;
    };
    const Case cases[] = {
        {"open",
         false,
         {3},
         RTX_OP_FILE_OPEN,
         0,
         "error_task:\n-----------\nFailed to open file " + kUser + "\n"},
        {"read the listed record", false, {3, 4}, RTX_OP_FILE_READ, 0, read},
        {"read a neighbour", false, {3}, RTX_OP_FILE_READ, 1, read},
        {"write a neighbour", false, {3}, RTX_OP_FILE_WRITE, 0, write},
        {"write the freed record", false, {3}, RTX_OP_FILE_WRITE, 2, write},
        {"seek to a record",
         false,
         {3},
         RTX_OP_FILE_SEEK,
         0,
         "error_task:\n-----------\nFailed to position to record 3\nin log file " + kUser + "\n"},
        {"header read", false, {3}, RTX_OP_FILE_READ, 3, read},
        {"erase all: open",
         true,
         {},
         RTX_OP_FILE_OPEN,
         0,
         "error_task:\n-----------\nFailed to open file " + kUser + "\n"},
        {"erase all: read", true, {}, RTX_OP_FILE_READ, 2, read},
        {"erase all: write", true, {}, RTX_OP_FILE_WRITE, 1, write},
        {"erase all: header write", true, {}, RTX_OP_FILE_WRITE, 5, write},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        err::reset_task_state();
        std::filesystem::remove(user_path());
        std::filesystem::remove(bak_of(1));
        rtx_host_clear_faults();
        five_errors();
        rtx_host_fail(c.op, c.skip, 1, RTX_E_INJECTED);
        rtx_host_console_clear();
        EXPECT_FALSE(c.all ? err::erase_all_errors(1) : erase(1, erase_block(c.numbers)));
        EXPECT_EQ(console(), c.text);
        EXPECT_EQ(err::log_slot(1).stream, nullptr);
        rtx_host_clear_faults();
        expect_valid_or_recovered(1);
    }
    // Erase all resets the header values even when a record cannot be read.
    err::reset_task_state();
    std::filesystem::remove(user_path());
    five_errors();
    rtx_host_fail(RTX_OP_FILE_READ, 1, 1, RTX_E_INJECTED);
    EXPECT_FALSE(err::erase_all_errors(1));
    EXPECT_EQ(header(1).error_start_record, 0);
    EXPECT_EQ(header(1).new_records, 0);
}

}  // namespace
