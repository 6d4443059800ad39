// Erasing selected errors and all errors.
#include <cstdint>
#include <string>
#include <vector>

#include "log_test_helpers.h"

using namespace log_test;

namespace {

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
    ASSERT_TRUE(erase(1, {5}));                // newest
    EXPECT_EQ(header(1), hdr(4, 1, 5, 0, 5));  // new_records unchanged
    std::string b = bytes_of(1);
    EXPECT_EQ(rfield(b, 5, 0, kRecord), record_bytes(freed(5, 6)));
    EXPECT_EQ(rfield(b, 4, R_NEXT, 3), "000");
    EXPECT_EQ(hfield(b, H_START), "004");
    EXPECT_EQ(hfield(b, H_EMPTY), "005");

    ASSERT_TRUE(erase(1, {1}));  // oldest
    EXPECT_EQ(header(1), hdr(4, 2, 5, 0, 1));
    b = bytes_of(1);
    EXPECT_EQ(rfield(b, 1, 0, kRecord), record_bytes(freed(1, 5)));
    EXPECT_EQ(rfield(b, 2, R_PREV, 3), "000");

    ASSERT_TRUE(erase(1, {3}));  // middle
    EXPECT_EQ(header(1), hdr(4, 2, 5, 0, 3));
    b = bytes_of(1);
    EXPECT_EQ(rfield(b, 3, 0, kRecord), record_bytes(freed(3, 1)));
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
    ASSERT_TRUE(erase(1, {1}));
    EXPECT_EQ(header(1), hdr(0, 0, 1, 0, 1));
    std::string b = bytes_of(1);
    EXPECT_EQ(b.substr(0, kHeader), header_bytes(0, 0, 1, 0, 1));
    EXPECT_EQ(rfield(b, 1, 0, kRecord), record_bytes(freed(1, 2)));
    EXPECT_TRUE(check_bytes(b).ok());
}

TEST_F(LogErase, SelectionEdgeCases) {
    five_errors();
    // Listed twice: erased once, the second time passed over without failure.
    ASSERT_TRUE(erase(1, {3, 3}));
    EXPECT_EQ(header(1), hdr(5, 1, 5, 0, 3));
    EXPECT_EQ(rfield(bytes_of(1), 3, R_PREV, 3), "006");  // not pushed twice

    // Numbers 0 and 26 fail quietly; the others are still erased.
    rtx_host_console_clear();
    EXPECT_FALSE(erase(1, {0, 2, 26}));
    EXPECT_EQ(console(), "");
    EXPECT_EQ(header(1), hdr(5, 1, 5, 0, 2));

    // The count says 5 but the block holds two numbers: only those are read.
    std::vector<std::uint8_t> block = erase_block({4, 1}, 5);
    ASSERT_TRUE(err::erase_selected_errors(1, block.data(), block.size()));
    EXPECT_EQ(header(1), hdr(5, 5, 5, 0, 1));
    // A block too short for its count field is an empty list.
    block = erase_block({}, 0);
    ASSERT_TRUE(err::erase_selected_errors(1, block.data(), 9));
    // An empty list only rewrites the header.
    const std::string before = bytes_of(1);
    ASSERT_TRUE(erase(1, {}));
    EXPECT_EQ(bytes_of(1), before);
    EXPECT_EQ(header(1), hdr(5, 5, 5, 0, 1));
    EXPECT_TRUE(check_bytes(bytes_of(1)).ok());
}

TEST_F(LogErase, OverflowRecordCanBeErasedAndComesBack) {
    start_log(1);
    archive_n(1, 26);  // record 1 overflow, errors 3 (oldest) .. 25, 2 (newest)
    ASSERT_EQ(header(1), hdr(2, 3, 24, 1, 0));
    ASSERT_TRUE(erase(1, {1}));
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
    for (unsigned n = 1; n <= 5; ++n)
        EXPECT_EQ(rfield(b, n, 0, kRecord), record_bytes(freed(n, n + 1)));
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

}  // namespace
