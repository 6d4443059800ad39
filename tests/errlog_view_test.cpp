// errlog's reading of log files against the module's own files: new files, tables, the
// archive text, corrupt files and salvage.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../tools/errlog/log_view.h"
#include "log_test_helpers.h"

using namespace log_test;

namespace {

errlog::Log inspect(const std::string& bytes) {
    return errlog::inspect_log(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

std::vector<errlog::Entry> salvage(const std::string& bytes) {
    return errlog::salvage(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

std::string codes(const std::vector<errlog::Entry>& entries) {
    std::string s;
    for (const auto& e : entries)
        s += (s.empty() ? "" : ",") + std::to_string(e.record) +
             (e.overflow ? "o" : ":" + std::to_string(e.code_value));
    return s;
}

// Sets the date and time fields of record n.
void stamp(std::string& image, unsigned n, const char* date, const char* time) {
    set_rfield(image, n, R_DATE, date);
    set_rfield(image, n, R_TIME, time);
}

class ErrlogView : public LogTest {};

}  // namespace

// The empty log errlog creates is the file the error task creates.
TEST_F(ErrlogView, NewImageIsTheFileTheTaskCreates) {
    start_log(0);
    const std::string created = bytes_of(0);
    const auto image = errlog::new_log_image();
    EXPECT_EQ(std::string(image.begin(), image.end()), created);
    EXPECT_EQ(created, new_file());
    errlog::Log log = inspect(created);
    ASSERT_TRUE(log.valid()) << log.reason;
    EXPECT_EQ(log.free_records, 25u);
    EXPECT_EQ(log.empty_record, 1);
    const auto table = errlog::format_table(log, "T");
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0], "T: 0 errors, 0 new, no overflow, 25 free");
    EXPECT_EQ(table[2], "  (no errors)");
}

// The table lists the errors newest first, the overflow marker last, each on one row.
TEST_F(ErrlogView, TableListsNewestFirstAndTheOverflowMarkerLast) {
    start_log(1);
    archive_n(1, 27);  // 25 fill the log; the 26th makes record 1 the overflow record
    errlog::Log log = inspect(bytes_of(1));
    ASSERT_TRUE(log.valid()) << log.reason;
    ASSERT_EQ(log.errors.size(), 24u);
    ASSERT_TRUE(log.overflow_entry);
    EXPECT_EQ(log.overflow_entry->record, 1);
    EXPECT_EQ(log.free_records, 0u);
    EXPECT_EQ(codes({log.errors[0], log.errors[1], log.errors[2], log.errors[23]}),
              "3:126,2:125,25:124,4:103");
    const auto table = errlog::format_table(log, "log USER");
    ASSERT_EQ(table.size(), 27u);
    EXPECT_EQ(table[0], "log USER: 24 errors, 24 new, overflow record 1, 0 free");
    EXPECT_EQ(table[1],
              "  rec  code   date       time      component        source                text");
    EXPECT_EQ(table[2],
              "  003  00126  07.MAR.04  09:05:31  COMP             file.c:10             E126");
    EXPECT_EQ(table[26],
              "  001  -----  07.MAR.04  09:05:31  -                -                     MESSAGE "
              "BUFFER OVERFLOW (older errors were lost)");

    // Texts with quotes and line breaks stay on one row; an absent source reads "-".
    ASSERT_TRUE(err::archive_error(1, 7, "two\nlines \"q\"", nullptr, nullptr, -3));
    log = inspect(bytes_of(1));
    ASSERT_TRUE(log.valid()) << log.reason;
    EXPECT_EQ(log.errors[0].text, "two\r\nlines \"q\"");
    EXPECT_EQ(
        errlog::format_table(log, "U")[2],
        "  004  00007  07.MAR.04  09:05:31  -                -:-3                  two\\nlines "
        "\\\"q\\\"");
}

// The archive text errlog writes is byte for byte what the task exports.
TEST_F(ErrlogView, ArchiveTextIsWhatTheTaskExports) {
    start_log(1);
    archive_n(1, 3);
    ASSERT_TRUE(err::archive_error(1, 9, "first line\nsecond line", nullptr, "x.c", 1));
    const std::string before = bytes_of(1);
    errlog::Log log = inspect(before);
    ASSERT_TRUE(log.valid());
    ASSERT_TRUE(err::export_log(1, "\\LOG\\USER.ARC")) << console();
    EXPECT_EQ(errlog::archive_text(log.new_records, log.overflow_entry, log.errors),
              read_file(root_ / "LOG" / "USER.ARC"));

    // With an overflow record, after the log ran full.
    archive_n(1, 30, 200);
    const std::string full = bytes_of(1);
    log = inspect(full);
    ASSERT_TRUE(log.valid());
    ASSERT_TRUE(log.overflow_entry);
    ASSERT_TRUE(err::export_log(1, "\\LOG\\FULL.ARC")) << console();
    const std::string exported = read_file(root_ / "LOG" / "FULL.ARC");
    EXPECT_EQ(errlog::archive_text(log.new_records, log.overflow_entry, log.errors), exported);
    EXPECT_EQ(exported.substr(0, 10), "025\r\n24\r\nO");
}

// A corrupt file names the first rule it breaks and is not walked.
TEST_F(ErrlogView, CorruptFilesNameTheRuleTheyBreak) {
    const std::string good = image_with(
        {1, 2, 3},
        {4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25}, 0, 3);
    ASSERT_TRUE(inspect(good).valid()) << inspect(good).reason;
    EXPECT_EQ(inspect(good).errors.size(), 3u);

    errlog::Log log = inspect(good.substr(0, 300));
    EXPECT_EQ(log.rule, 1);
    EXPECT_EQ(log.check.fault, err::LogFault::header_short);

    log = inspect(good + "x");
    EXPECT_EQ(log.rule, 2);
    EXPECT_EQ(log.reason, "length field mismatch: the header says 15848 bytes, the file has 15849");

    std::string bad = good;
    set_hfield(bad, H_OVERFLOW, "026");
    EXPECT_EQ(inspect(bad).rule, 3);

    bad = good;
    set_rfield(bad, 2, R_PREV, "003");  // the backward walk 3 -> 2 -> 3 loops
    log = inspect(bad);
    EXPECT_EQ(log.rule, 4);
    EXPECT_FALSE(log.valid());
    EXPECT_TRUE(log.errors.empty());  // a corrupt log is not walked for the table
    EXPECT_EQ(errlog::format_table(log, "log USER"),
              std::vector<std::string>{"log USER: corrupt: " + log.reason});

    bad = good;
    set_rfield(bad, 1, R_NEXT, "003");  // forward 1 -> 3 skips record 2
    log = inspect(bad);
    EXPECT_EQ(log.rule, 5);
    EXPECT_EQ(log.check.fault, err::LogFault::record_unaccounted);
}

// Salvage reads the records themselves, oldest first, whatever the chains say.
TEST_F(ErrlogView, SalvageFindsEveryErrorOldestFirst) {
    // Errors 5 (oldest), 9, 2 (newest) on the chain, 7 the overflow marker, the rest free.
    std::vector<unsigned> free_chain;
    for (unsigned n = 1; n <= 25; ++n)
        if (n != 5 && n != 9 && n != 2 && n != 7) free_chain.push_back(n);
    std::string image = image_with({5, 9, 2}, free_chain, 7, 3);
    // 5 and 9 archived in the same second, 2 a day later; the overflow marker between.
    stamp(image, 5, "07.MAR.04", "09:05:31");
    stamp(image, 9, "07.MAR.04", "09:05:31");
    stamp(image, 7, "07.MAR.04", "10:00:00");
    stamp(image, 2, "08.MAR.04", "00:00:01");
    ASSERT_TRUE(inspect(image).valid()) << inspect(image).reason;
    EXPECT_EQ(codes(salvage(image)), "5:105,9:109,7o,2:102");

    // A broken chain does not matter: the records themselves are read.
    std::string broken = image;
    set_hfield(broken, H_START, "005");
    set_rfield(broken, 2, R_PREV, "002");
    ASSERT_FALSE(inspect(broken).valid());
    EXPECT_EQ(codes(salvage(broken)), "5:105,9:109,7o,2:102");

    // Same second, chain order reversed against file order: the chain decides.
    std::string swapped = image_with({9, 5}, free_chain, 0, 2);
    for (unsigned n : {5u, 9u}) stamp(swapped, n, "07.MAR.04", "09:05:31");
    EXPECT_EQ(codes(salvage(swapped)), "9:109,5:105");

    // A record without a readable date comes first; a damaged record is left out.
    std::string damaged = image;
    set_rfield(damaged, 9, R_DATE, "DD.MMM.YY");
    set_rfield(damaged, 5, 82, "Error Record No:");  // its label no longer reads
    EXPECT_EQ(codes(salvage(damaged)), "9:109,7o,2:102");

    // A file shifted by lost bytes: the records are found where their borders begin.
    std::string shifted = image.substr(0, 100) + image.substr(107);
    ASSERT_FALSE(inspect(shifted).valid());
    EXPECT_EQ(codes(salvage(shifted)), "5:105,9:109,7o,2:102");

    // Nothing but a header, or nothing at all.
    EXPECT_TRUE(salvage(image.substr(0, 373)).empty());
    EXPECT_TRUE(salvage("").empty());

    // The salvaged errors as an archive file: newest first after the overflow entry.
    auto found = salvage(image);
    std::vector<errlog::Entry> newest_first{found[3], found[1], found[0]};
    const std::string arc = errlog::archive_text(3, found[2], newest_first);
    EXPECT_EQ(arc.substr(0, 54),
              "004\r\n3\r\nO\r\n7\r\n\r\nMESSAGE BUFFER OVERFLOW\r\n$$$\r\n\r\n07.MAR");
    EXPECT_NE(arc.find("2\r\n00102\r\nE2\r\n$$$\r\nCOMP\r\n08.MAR.04\r\n00:00:01\r\n9\r\n"),
              std::string::npos);
}

// Texts are escaped so that each stays on one line.
TEST(ErrlogEscape, KeepsEachTextOnOneLine) {
    EXPECT_EQ(errlog::escape("a\r\nb"), "a\\nb");
    EXPECT_EQ(errlog::escape("q\"\\\t\x01\r"), "q\\\"\\\\\\t\\001\\r");
    EXPECT_EQ(errlog::escape("plain"), "plain");
}

// A stored date and time read as a calendar time, or not at all.
TEST(ErrlogStamp, ReadsOnlyRealDatesAndTimes) {
    const struct {
        const char* date;
        const char* time;
        const char* iso;  // null: no time
    } cases[] = {
        {"07.MAR.04", "09:05:31", "2004-03-07T09:05:31"},
        {"31.DEC.99", "23:59:60", "1999-12-31T23:59:60"},  // years 70 to 99: 19xx
        {"01.JAN.69", "00:00:00", "2069-01-01T00:00:00"},  // 00 to 69: 20xx
        {"29.FEB.24", "12:00:00", "2024-02-29T12:00:00"},
        {"29.FEB.00", "12:00:00", "2000-02-29T12:00:00"},
        {"29.FEB.25", "12:00:00", nullptr},
        {"31.APR.26", "12:00:00", nullptr},
        {"00.JAN.26", "12:00:00", nullptr},
        {"01.Jan.26", "12:00:00", nullptr},
        {"01.JAN.26", "24:00:00", nullptr},
        {"01.JAN.26", "12:60:00", nullptr},
        {"01.JAN.26", "12:00:61", nullptr},
        {"DD.MMM.YY", "HH:MM:SS", nullptr},
        {"01-JAN-26", "12:00:00", nullptr},
        {"01.JAN.26", "12.00.00", nullptr},
    };
    for (const auto& c : cases) {
        errlog::Entry e;
        e.date = c.date;
        e.time = c.time;
        errlog::Stamp t;
        const bool read = errlog::parse_stamp(e, t);
        EXPECT_EQ(read, c.iso != nullptr) << c.date << " " << c.time;
        if (read && c.iso) {
            EXPECT_EQ(errlog::iso_time(t), c.iso);
        }
    }
}
