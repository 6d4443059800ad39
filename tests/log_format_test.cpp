// Field codecs, record access by number, time stamps, the shared layout code and the
// validation of chains whose records cannot be read.
#include <cstring>
#include <string>

#include "log_format.h"
#include "log_test_helpers.h"

using namespace log_test;
namespace lf = err::logfmt;

namespace {

std::string bytes(const std::uint8_t* p, std::size_t n) {
    return std::string(reinterpret_cast<const char*>(p), n);
}

class LogFormat : public LogTest {};

TEST(LogFields, NumberAndTextFields) {
    std::uint8_t f[8];
    std::memset(f, '#', sizeof f);
    err::put_number_field(f, 3, 7);
    EXPECT_EQ(bytes(f, 8), "007#####");
    err::put_number_field(f, 5, 65535);
    EXPECT_EQ(bytes(f, 8), "65535###");
    std::memset(f, '#', sizeof f);
    err::put_number_field(f, 6, 42);  // 6 or more: 5 digits
    EXPECT_EQ(bytes(f, 8), "00042###");
    err::put_number_field(f, 3, 1234);  // more digits than the width: the leading ones
    EXPECT_EQ(bytes(f, 8), "12342###");
    err::put_number_field(f, 1, 0);
    EXPECT_EQ(bytes(f, 8), "02342###");

    // A source line as "%d" prints it.
    for (const std::int32_t line : {0, 7, -1, 2147483647, -2147483647 - 1}) {
        char text[12];
        lf::decimal_text(line, text);
        EXPECT_EQ(std::string(text), std::to_string(line));
    }

    std::memset(f, '#', sizeof f);
    err::put_text_field(f, 5, "");
    EXPECT_EQ(bytes(f, 8), "     ###");
    err::put_text_field(f, 5, "abcdefgh");
    EXPECT_EQ(bytes(f, 8), "abcde###");
    err::put_text_field(f, 1, "V");
    EXPECT_EQ(bytes(f, 8), "Vbcde###");

    // Reading back: the leading digits, never past the field.
    const std::uint8_t digits[] = "026\r\n12345";
    EXPECT_EQ(lf::read_number(digits, 3), 26u);
    EXPECT_EQ(lf::read_number(digits + 5, 3), 123u);
    EXPECT_EQ(lf::read_number(reinterpret_cast<const std::uint8_t*>("7x9"), 3), 7u);
    EXPECT_EQ(lf::read_number(reinterpret_cast<const std::uint8_t*>(" 12"), 3), 0u);
}

// The field's bytes, followed by "|cut" when text_to_field says the text did not fit whole.
std::string to_field(std::uint16_t width, const char* text) {
    std::uint8_t f[100];
    std::memset(f, '#', sizeof f);
    const bool whole = err::text_to_field(f, width, text);
    EXPECT_EQ(f[width], '#') << "wrote past the field";
    return bytes(f, width) + (whole ? "" : "|cut");
}

TEST(LogFields, TextToFieldStoresLineBreaksWhereTheyFit) {
    EXPECT_EQ(to_field(80, "abc\ndef"), "abc\r\ndef" + std::string(72, ' '));
    EXPECT_EQ(to_field(10, "a\n\nb"), "a\r\n\r\nb    ");
    EXPECT_EQ(to_field(10, "abc\n"), "abc\r\n     ");
    // A line break needs three places left: "ab" + CR LF leaves one for "c".
    EXPECT_EQ(to_field(5, "ab\nc"), "ab\r\nc");
    EXPECT_EQ(to_field(5, "ab\ncd"), "ab\r\nc|cut");
    // With only two places left the break is dropped and the text runs on.
    EXPECT_EQ(to_field(5, "abc\nd"), "abcd |cut");
    // A segment that fills the field ends the work.
    EXPECT_EQ(to_field(5, "abcdefg\nxyz"), "abcde|cut");
    EXPECT_EQ(to_field(5, "abcde\nxyz"), "abcde|cut");
    EXPECT_EQ(to_field(5, "abcde"), "abcde");
    EXPECT_EQ(to_field(15, "A-COMPONENT-NAME-TOO-LONG"), "A-COMPONENT-NAM|cut");
    EXPECT_EQ(to_field(6, ""), "      ");
    EXPECT_EQ(to_field(6, nullptr), "      ");
}

TEST(LogFields, TrimmedLength) {
    auto t = [](const char* s) {
        return err::trimmed_length(reinterpret_cast<const std::uint8_t*>(s),
                                   static_cast<std::uint16_t>(std::strlen(s)));
    };
    EXPECT_EQ(t("     "), 0);
    EXPECT_EQ(t("ab  "), 2);
    EXPECT_EQ(t(" a b "), 4);
    EXPECT_EQ(t("abc"), 3);
    EXPECT_EQ(t("ab\r\n  "), 4);  // only blanks are trimmed
}

TEST_F(LogFormat, DateAndTimeStamps) {
    const char* date = err::log_date_string();
    EXPECT_STREQ(date, "07.MAR.04");
    EXPECT_STREQ(err::log_time_string(), "09:05:31");
    g_now = 946684798;  // 31 December 1999, 23:59:58
    EXPECT_STREQ(err::log_date_string(), "31.DEC.99");
    EXPECT_EQ(err::log_date_string(), date);  // one static buffer, overwritten
    EXPECT_STREQ(err::log_time_string(), "23:59:58");
    g_now = 946684800;  // 1 January 2000, midnight
    EXPECT_STREQ(err::log_date_string(), "01.JAN.00");
    EXPECT_STREQ(err::log_time_string(), "00:00:00");

    const char* months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                            "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    for (int m = 0; m < 12; ++m) {
        std::tm t{};
        t.tm_year = 110;  // 2010
        t.tm_mon = m;
        t.tm_mday = 28;
        t.tm_hour = 12;
        g_now = timegm(&t);
        EXPECT_EQ(std::string(err::log_date_string()), std::string("28.") + months[m] + ".10");
    }
}

TEST_F(LogFormat, RecordsAreReadAndWrittenByTheirNumber) {
    start_log(1);
    std::uint8_t r[kRecord];
    // Without an open stream nothing is read or written.
    EXPECT_FALSE(err::read_log_record(1, r, 1));
    ASSERT_TRUE(err::open_log_stream(1));
    EXPECT_FALSE(err::read_log_record(1, r, 0));
    EXPECT_FALSE(err::read_log_record(1, r, 26));

    ASSERT_TRUE(err::read_log_record(1, r, 1));
    EXPECT_EQ(bytes(r, kRecord), record_bytes(new_record(1)));
    ASSERT_TRUE(err::read_log_record(1, r, 25));
    EXPECT_EQ(bytes(r, kRecord), record_bytes(new_record(25)));

    // A buffer is written where its own record number says.
    err::put_text_field(r + R_TEXT, 80, "moved");
    err::put_number_field(r + R_NR, 3, 1);
    ASSERT_TRUE(err::write_log_record(1, r));
    err::put_number_field(r + R_NR, 3, 0);
    EXPECT_FALSE(err::write_log_record(1, r));
    err::put_number_field(r + R_NR, 3, 26);
    EXPECT_FALSE(err::write_log_record(1, r));
    EXPECT_EQ(console(), "");
    ASSERT_TRUE(err::close_log(1));
    // Record 25's bytes, its links too, now fill record 1.
    RecordFields moved = new_record(25);
    moved.nr = 1;
    moved.text = "moved";
    std::string expected = new_file();
    EXPECT_EQ(bytes_of(1), expected.replace(rec_at(1), kRecord, record_bytes(moved)));
    // After close_log the stream is gone; closing again fails quietly.
    EXPECT_FALSE(err::close_log(1));
    EXPECT_EQ(console(), "");
}

TEST(LogLayout, SharedBuildersMatchTheLayout) {
    std::uint8_t h[kHeader];
    lf::build_new_header(h, 1);
    EXPECT_EQ(bytes(h, kHeader), header_bytes(0, 0, 0, 0, 1, "00000"));
    std::uint8_t r[kRecord];
    lf::build_new_record(r);
    EXPECT_EQ(bytes(r, kRecord), record_bytes(RecordFields{0}));  // number 0, no links
}

// The archive's entries are the formats of the archive file, printed: also for fields that hold
// a NUL (a print stops there), and cut like a print when the line is too small.
TEST(LogLayout, ArchiveEntriesAreTheirFormatsPrinted) {
    RecordFields plain = archived(7, 0, 0, 42, "two\r\nlines  ");
    RecordFields nul = archived(25, 0, 0, 9, std::string("ab\0cd", 5));
    nul.component = std::string("C\0MP", 4);
    nul.time = std::string("09:\0", 4);
    for (const RecordFields& f : {plain, nul}) {
        const std::string rec = record_bytes(f);
        const auto* r = reinterpret_cast<const std::uint8_t*>(rec.data());
        const char* c = rec.data();
        const int text = static_cast<int>(err::trimmed_length(r + R_TEXT, 80));
        const int comp = static_cast<int>(err::trimmed_length(r + R_COMP, 15));
        for (std::size_t size : {std::size_t(512), std::size_t(9)}) {
            char want[512], got[512];
            int n = std::snprintf(
                want, size, "%d\r\n%.*s\r\n%.*s\r\n$$$\r\n%.*s\r\n%.*s\r\n%.*s\r\n", int(f.nr), 5,
                c + R_CODE, text, c + R_TEXT, comp, c + R_COMP, 9, c + R_DATE, 8, c + R_TIME);
            EXPECT_EQ(lf::format_record_entry(got, size, int(f.nr), r), n);
            EXPECT_STREQ(got, want);
            n = std::snprintf(want, size, "%d\r\n\r\n%.*s\r\n$$$\r\n\r\n%.*s\r\n%.*s\r\n",
                              int(f.nr), text, c + R_TEXT, 9, c + R_DATE, 8, c + R_TIME);
            EXPECT_EQ(lf::format_overflow_entry(got, size, int(f.nr), r), n);
            EXPECT_STREQ(got, want);
        }
    }
}

// The reasons for whole images are checked with the start-up's reaction to them (log setup
// tests); here a record that cannot be read, through a reader that fails on record 4.
TEST(LogCheck, UnreadableRecordIsNamed) {
    std::string fresh = new_file();
    auto reader = [](void* context, std::uint16_t n) -> const std::uint8_t* {
        if (n == 4) return nullptr;
        return reinterpret_cast<const std::uint8_t*>(static_cast<std::string*>(context)->data() +
                                                     rec_at(n));
    };
    err::LogCheckResult r =
        err::check_log_chains(reinterpret_cast<const std::uint8_t*>(fresh.data()), reader, &fresh);
    EXPECT_EQ(r.fault, err::LogFault::record_unreadable);
    EXPECT_EQ(r.record, 4);
    char text[200];
    err::describe_log_check(r, text, sizeof text);
    EXPECT_STREQ(text, "record 4 cannot be read in the free chain (check 1)");
    EXPECT_STREQ(err::log_fault_name(r.fault), "record_unreadable");
}

}  // namespace
