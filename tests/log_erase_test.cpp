// Erasing selected errors and all errors. Every step is checked against the whole file: the
// freed records keep their date, time, file and line, and only the links that must change do.
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
        model_errors(5);
        expect_user_file(hdr(5, 1, 5, 0, 6));
    }
};

TEST_F(LogErase, NewestOldestAndMiddleAreUnlinked) {
    five_errors();
    ASSERT_TRUE(erase(1, {5}));  // newest; new_records unchanged
    records[5] = freed(5, 6);
    records[4].next = 0;
    expect_user_file(hdr(4, 1, 5, 0, 5));

    ASSERT_TRUE(erase(1, {1}));  // oldest
    records[1] = freed(1, 5);
    records[2].previous = 0;
    expect_user_file(hdr(4, 2, 5, 0, 1));

    ASSERT_TRUE(erase(1, {3}));  // middle
    records[3] = freed(3, 1);
    records[2].next = 4;
    records[4].previous = 2;
    expect_user_file(hdr(4, 2, 5, 0, 3));

    // The next error takes the record freed last.
    archive_n(1, 1, 300);
    records[3] = archived(3, 4, 0, 300, "E300");
    records[4].next = 3;
    expect_user_file(hdr(3, 2, 6, 0, 1));
    EXPECT_EQ(console(), "");
}

TEST_F(LogErase, OnlyErrorLeavesAnEmptyChain) {
    start_log(1);
    archive_n(1, 1);
    ASSERT_TRUE(erase(1, {1}));
    model_errors(0);
    records[1] = freed(1, 2);
    expect_user_file(hdr(0, 0, 1, 0, 1));
}

TEST_F(LogErase, SelectionEdgeCases) {
    five_errors();
    // Listed twice: erased (and put on the free chain) once, the second time passed over.
    ASSERT_TRUE(erase(1, {3, 3}));
    records[3] = freed(3, 6);
    records[2].next = 4;
    records[4].previous = 2;
    expect_user_file(hdr(5, 1, 5, 0, 3));

    // Numbers 0 and 26 fail quietly; the others are still erased.
    rtx_host_console_clear();
    EXPECT_FALSE(erase(1, {0, 2, 26}));
    EXPECT_EQ(console(), "");
    records[2] = freed(2, 3);
    records[1].next = 4;
    records[4].previous = 1;
    expect_user_file(hdr(5, 1, 5, 0, 2));

    // The count says 5 but the block holds two numbers: only those are read.
    std::vector<std::uint8_t> block = erase_block({4, 1}, 5);
    ASSERT_TRUE(err::erase_selected_errors(1, block.data(), block.size()));
    records[4] = freed(4, 2);
    records[1] = freed(1, 4);
    records[5].previous = 0;
    expect_user_file(hdr(5, 5, 5, 0, 1));
    // A block too short for its count field is an empty list; an empty list only rewrites the
    // header.
    block = erase_block({}, 0);
    ASSERT_TRUE(err::erase_selected_errors(1, block.data(), 9));
    ASSERT_TRUE(erase(1, {}));
    expect_user_file(hdr(5, 5, 5, 0, 1));
}

TEST_F(LogErase, OverflowRecordCanBeErasedAndComesBack) {
    start_log(1);
    archive_n(1, 26);  // record 1 overflow, errors 3 (oldest) .. 25, 2 (newest)
    model_errors(26);
    expect_user_file(hdr(2, 3, 24, 1, 0));
    ASSERT_TRUE(erase(1, {1}));
    records[1] = freed(1, 0);  // the error chain is not touched
    expect_user_file(hdr(2, 3, 24, 0, 1));

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
    // Free chain: the former errors from the oldest to the newest, then 6..25.
    for (unsigned n = 1; n <= 5; ++n) records[n] = freed(n, n + 1);
    expect_user_file(hdr(0, 0, 0, 0, 1));
    archive_n(1, 1, 700);
    EXPECT_EQ(header(1), hdr(1, 1, 1, 0, 2));

    // On an empty log without an overflow record only the header is rewritten.
    ASSERT_TRUE(err::erase_all_errors(1));
    records[1] = freed(1, 2);
    expect_user_file(hdr(0, 0, 0, 0, 1));
    ASSERT_TRUE(err::erase_all_errors(1));
    expect_user_file(hdr(0, 0, 0, 0, 1));
    EXPECT_EQ(console(), "");
}

TEST_F(LogErase, EraseAllWithOverflowRecord) {
    start_log(1);
    archive_n(1, 26);
    ASSERT_TRUE(err::erase_all_errors(1));
    // The overflow record heads the free chain and keeps its text and code; then the former
    // errors from the oldest to the newest: 3, 4, ..., 25, 2.
    model_errors(26);
    records[1].state = 'E';
    records[1].previous = 3;
    for (unsigned n = 3; n <= 25; ++n) records[n] = freed(n, n < 25 ? n + 1 : 2);
    records[2] = freed(2, 0);
    expect_user_file(hdr(0, 0, 0, 0, 1));

    // The next error goes into the former overflow record.
    archive_n(1, 1, 800);
    records[1] = archived(1, 0, 0, 800, "E800");
    expect_user_file(hdr(1, 1, 1, 0, 3));
}

}  // namespace
