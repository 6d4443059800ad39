// Archiving errors: record filling, linking, the overflow record, new_records.
#include <string>

#include "log_test_helpers.h"

using namespace log_test;

namespace {

class LogArchive : public LogTest {};

TEST_F(LogArchive, FirstTwoErrorsAreLinkedInTheExactLayout) {
    for (int log_id : {0, 1}) {  // the system log stores its errors like the user log
        SCOPED_TRACE(log_id);
        start_log(log_id);
        ASSERT_TRUE(err::archive_error(log_id, 42, "abc", "LAMP", "src/lamp.c", 123));
        ASSERT_TRUE(err::archive_error(log_id, 65535, nullptr, nullptr, nullptr, -7));
        EXPECT_EQ(console(), "");
        EXPECT_EQ(header(log_id), hdr(2, 1, 2, 0, 3));
        EXPECT_EQ(err::log_slot(log_id).stream, nullptr);

        const RecordFields r1 = {1,     'V',          0,    2, 42, "abc", "LAMP", kDate,
                                 kTime, "src/lamp.c", "123"};
        // Null text and component: all blank; null file: "-" and blanks.
        const RecordFields r2 = {2, 'V', 1, 0, 65535, "", "", kDate, kTime, "-", "-7"};
        std::string expected = header_bytes(2, 1, 2, 0, 3) + record_bytes(r1) + record_bytes(r2);
        for (unsigned n = 3; n <= 25; ++n) expected += record_bytes(new_record(n));
        EXPECT_EQ(bytes_of(log_id), expected);
    }
}

TEST_F(LogArchive, TextsAreCutAndLineFeedsStoredAsCrLf) {
    start_log(1);
    ASSERT_TRUE(err::archive_error(1, 1, "abc\ndef", "A-COMPONENT-NAME-TOO-LONG",
                                   std::string(60, 'f').c_str(), 1234567));
    ASSERT_TRUE(err::archive_error(1, 2, std::string(100, 'T').c_str(), "C", "x.c", 0));
    ASSERT_TRUE(err::archive_error(1, 3, "two\nline feeds\n", "C", "line\nfile.c", -12345));
    model_errors(0);
    // The expected fields fit their widths, so that record_bytes cuts nothing. A seven-digit
    // line keeps six digits.
    const std::string f50(50, 'f');
    records[1] = {1, 'V', 0, 2, 1, "abc\r\ndef", "A-COMPONENT-NAM", kDate, kTime, f50, "123456"};
    records[2] = {2, 'V', 1, 3, 2, std::string(80, 'T'), "C", kDate, kTime, "x.c", "0"};
    records[3] = {
        3, 'V', 2, 0, 3, "two\r\nline feeds\r\n", "C", kDate, kTime, "line\r\nfile.c", "-12345"};
    expect_user_file(hdr(3, 1, 3, 0, 4));
}

TEST_F(LogArchive, FullLogTurnsTheOldestIntoTheOverflowRecord) {
    start_log(1);
    archive_n(1, 25);  // codes 100..124 in records 1..25
    model_errors(25);
    expect_user_file(hdr(25, 1, 25, 0, 0));

    // The 26th error, a day and a minute later: record 1 becomes the overflow record, with the
    // state, file and line the oldest error had; record 2 takes the new error; record 3 is now
    // the oldest; record 25 links forward to 2.
    g_now = kFixedNow + 86400 + 60;
    auto later = [](RecordFields f) {
        f.date = "08.MAR.04";
        f.time = "09:06:31";
        return f;
    };
    archive_n(1, 1, 125);
    model_errors(26);
    records[1] = later(records[1]);
    records[2] = later(records[2]);
    expect_user_file(hdr(2, 3, 24, 1, 0));
    EXPECT_EQ(console(), "");

    // The 27th takes record 3; the overflow record stays; new_records stays at 24.
    archive_n(1, 1, 126);
    records[3] = later(archived(3, 2, 0, 126, "E126"));
    records[2].next = 3;
    records[4].previous = 0;
    expect_user_file(hdr(3, 4, 24, 1, 0));

    // A whole round more: always the oldest record, never a second overflow record.
    archive_n(1, 30, 200);
    EXPECT_EQ(header(1).overflow_record, 1);
    EXPECT_EQ(header(1).new_records, 24);
    EXPECT_TRUE(check_bytes(bytes_of(1)).ok());
}

// new_records loaded above its limit comes down to it too.
TEST_F(LogArchive, NewRecordsAboveItsLimitComesDown) {
    start_log(1);
    archive_n(1, 25);
    err::log_slot(1).header.new_records = 40;
    archive_n(1, 1, 125);  // makes the overflow record: the limit is 24 from now on
    model_errors(26);
    expect_user_file(hdr(2, 3, 24, 1, 0));
}

TEST_F(LogArchive, LinkAboveTheRecordsFailsQuietly) {
    // A free chain that ends at 026 is valid (one free record, 2 to 25 on the error chain),
    // but once archiving has reached that link it fails without a text.
    std::vector<unsigned> errors;
    for (unsigned n = 2; n <= 25; ++n) errors.push_back(n);
    std::string image = image_with(errors, {1}, 0, 0);
    set_rfield(image, 1, R_PREV, "026");
    write_file(user_path(), image);
    ASSERT_TRUE(err::init_log_file(1));
    EXPECT_EQ(bytes_of(1), image);
    ASSERT_TRUE(err::archive_error(1, 1, "fits", "C", "f.c", 1));  // takes record 1
    EXPECT_EQ(header(1).empty_record, 26);
    rtx_host_console_clear();
    EXPECT_FALSE(err::archive_error(1, 2, "no room", "C", "f.c", 1));
    EXPECT_EQ(console(), "");
}

}  // namespace
