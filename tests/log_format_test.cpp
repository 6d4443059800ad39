// Field codecs, time stamps, record access by number, and a chain record that cannot be read.
#include <cstring>
#include <string>

#include "log_format.h"
#include "log_test_helpers.h"

using namespace log_test;
namespace lf = err::logfmt;

namespace {

const std::uint8_t* u8(const char* s) {
    return reinterpret_cast<const std::uint8_t*>(s);
}

TEST(LogFields, NumberAndTextFields) {
    char f[9] = "########";
    auto* field = reinterpret_cast<std::uint8_t*>(f);
    const struct {
        std::uint16_t width, value;
        const char* after;
    } numbers[] = {
        {3, 7, "007#####"},    {5, 65535, "65535###"}, {6, 42, "00042###"},  // 6 or more: 5 digits
        {3, 1234, "12342###"},  // too many digits: the leading ones
        {1, 0, "02342###"},
    };
    for (const auto& n : numbers) {
        err::put_number_field(field, n.width, n.value);
        EXPECT_STREQ(f, n.after) << n.value;
    }
    err::put_text_field(field, 5, "abcdefgh");
    EXPECT_STREQ(f, "abcde###");
    err::put_text_field(field, 5, "");
    EXPECT_STREQ(f, "     ###");
    for (const std::int32_t line : {0, -1, 2147483647, -2147483647 - 1}) {
        char text[12];
        lf::decimal_text(line, text);
        EXPECT_EQ(std::string(text), std::to_string(line));
    }
    // Reading back: the leading digits, never past the field; only blanks are trimmed.
    EXPECT_EQ(lf::read_number(u8("12345"), 3), 123u);
    EXPECT_EQ(lf::read_number(u8("7x9"), 3), 7u);
    EXPECT_EQ(lf::read_number(u8(" 12"), 3), 0u);
    EXPECT_EQ(err::trimmed_length(u8("ab\r\n  "), 6), 4);
    EXPECT_EQ(err::trimmed_length(u8("   "), 3), 0);
}

// The field's bytes, followed by "|cut" when text_to_field says the text did not fit whole.
std::string to_field(std::uint16_t width, const char* text) {
    char f[100];
    std::memset(f, '#', sizeof f);
    const bool whole = err::text_to_field(reinterpret_cast<std::uint8_t*>(f), width, text);
    EXPECT_EQ(f[width], '#') << "wrote past the field";
    return std::string(f, width) + (whole ? "" : "|cut");
}

TEST(LogFields, TextToFieldStoresLineBreaksWhereTheyFit) {
    EXPECT_EQ(to_field(10, "a\n\nb"), "a\r\n\r\nb    ");
    // A line break needs three places left: "ab" + CR LF leaves one for "c".
    EXPECT_EQ(to_field(5, "ab\nc"), "ab\r\nc");
    EXPECT_EQ(to_field(5, "ab\ncd"), "ab\r\nc|cut");
    // With only two places left the break is dropped and the text runs on.
    EXPECT_EQ(to_field(5, "abc\nd"), "abcd |cut");
    // A segment that fills the field ends the work.
    EXPECT_EQ(to_field(5, "abcdefg\nxyz"), "abcde|cut");
    EXPECT_EQ(to_field(5, "abcde\nxyz"), "abcde|cut");
    EXPECT_EQ(to_field(5, "abcde"), "abcde");
    EXPECT_EQ(to_field(6, nullptr), "      ");
}

class LogFormat : public LogTest {};

TEST_F(LogFormat, DateAndTimeStamps) {
    const char* date = err::log_date_string();
    EXPECT_STREQ(date, "07.MAR.04");
    EXPECT_STREQ(err::log_time_string(), "09:05:31");
    g_now = 946684798;  // 31 December 1999, 23:59:58
    EXPECT_STREQ(err::log_date_string(), "31.DEC.99");
    EXPECT_EQ(err::log_date_string(), date);  // one static buffer, overwritten
    EXPECT_STREQ(err::log_time_string(), "23:59:58");
}

// Instruments stay in the field past 19 January 2038: a clock after it (the 32-bit build
// included) stamps records with its date and time; the year keeps its last two digits.
TEST_F(LogFormat, RecordsStampedAfter2038) {
    const auto at = [](int year, int month, int day, int hour, int minute, int second) {
        std::tm t{};
        t.tm_year = year - 1900;
        t.tm_mon = month - 1;
        t.tm_mday = day;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_sec = second;
        return timegm(&t);
    };
    start_log();
    g_now = at(2040, 3, 7, 9, 5, 31);
    ASSERT_TRUE(err::archive_error(1, 300, "a", "C", "f.c", 1));
    g_now = at(2099, 12, 31, 23, 59, 59);
    ASSERT_TRUE(err::archive_error(1, 301, "b", "C", "f.c", 2));
    const std::string log = read("LOG/USERERR.LOG");
    const auto stamp = [&](int record) {
        const std::string r =
            log.substr(err::LOG_HEADER_SIZE + (record - 1) * err::LOG_RECORD_SIZE);
        return r.substr(lf::kRecDate, lf::kDateWidth) + " " +
               r.substr(lf::kRecTime, lf::kTimeWidth);
    };
    EXPECT_EQ(stamp(1), "07.MAR.40 09:05:31");
    EXPECT_EQ(stamp(2), "31.DEC.99 23:59:59");
}

TEST_F(LogFormat, RecordsAreReadAndWrittenByTheirNumberOnly1To25) {
    start_log();
    std::uint8_t r[err::LOG_RECORD_SIZE];
    EXPECT_FALSE(err::read_log_record(1, r, 1));  // no open stream
    ASSERT_TRUE(err::open_log_stream(1));
    EXPECT_FALSE(err::read_log_record(1, r, 0));
    EXPECT_FALSE(err::read_log_record(1, r, 26));
    ASSERT_TRUE(err::read_log_record(1, r, 25));
    for (const char* nr : {"000", "026"}) {  // a buffer is written where its number says
        std::memcpy(r + lf::kRecNr, nr, 3);
        EXPECT_FALSE(err::write_log_record(1, r)) << nr;
    }
    ASSERT_TRUE(err::close_log(1));
    EXPECT_FALSE(err::close_log(1));
    EXPECT_EQ(console(), "");
}

// Null text, component and file: blank fields, "-" for the file.
TEST_F(LogFormat, NullArgumentsAreStoredBlank) {
    start_log();
    ASSERT_TRUE(err::archive_error(1, 65535, nullptr, nullptr, nullptr, -7));
    const std::string r = read("LOG/USERERR.LOG").substr(err::LOG_HEADER_SIZE);
    EXPECT_EQ(r.substr(lf::kRecCode, 5), "65535");
    EXPECT_EQ(r.substr(lf::kRecText, 80), std::string(80, ' '));
    EXPECT_EQ(r.substr(lf::kRecComponent, 15), std::string(15, ' '));
    EXPECT_EQ(r.substr(lf::kRecFile, 50), "-" + std::string(49, ' '));
}

// A record that the reader cannot give is named with the walk that met it.
TEST_F(LogFormat, UnreadableRecordIsNamed) {
    start_log();
    std::string image = read("LOG/USERERR.LOG");
    auto reader = [](void* context, std::uint16_t n) -> const std::uint8_t* {
        const std::string& file = *static_cast<std::string*>(context);
        return n == 4 ? nullptr : u8(file.data() + lf::record_offset(n));
    };
    const err::LogCheckResult r = err::check_log_chains(u8(image.data()), reader, &image);
    char text[200];
    const std::size_t n = err::describe_log_check(r, text, sizeof text);
    EXPECT_STREQ(text, "record 4 cannot be read in the free chain (check 1)");
    EXPECT_EQ(err::describe_log_check(r, text, n), n - 1);  // cut to the size less one
}

}  // namespace
