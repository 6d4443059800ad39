// Helpers of the log tests: a fresh root folder with its LOG folder and boot file, a quiet
// console, a fixed clock, and log file bytes built here from the layout by hand (literal
// offsets and widths), independently of the module's own format code.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "log.h"
#include "log_check.h"
#include "log_clock.h"
#include "rtx/rtx_host.h"
#include "task_state.h"

namespace log_test {

// The log's clock in the tests: g_now, 7 March 2004, 09:05:31 (UTC; the tests run with TZ=UTC0)
// at the start of every case; tests may move it.
constexpr std::time_t kFixedNow = 1078650331;
inline std::time_t g_now = kFixedNow;
inline std::time_t test_clock() {
    return g_now;
}
constexpr const char* kDate = "07.MAR.04";
constexpr const char* kTime = "09:05:31";

constexpr std::size_t kHeader = 373;
constexpr std::size_t kRecord = 619;
constexpr std::size_t kFile = 15848;

// Header field offsets.
constexpr std::size_t H_START = 134, H_END = 164, H_NEW = 194, H_OVERFLOW = 224, H_EMPTY = 254,
                      H_LENGTH = 284;
// Record field offsets.
constexpr std::size_t R_NR = 107, R_STATE = 137, R_PREV = 165, R_NEXT = 195, R_CODE = 225,
                      R_TEXT = 232, R_COMP = 339, R_DATE = 381, R_TIME = 417, R_FILE = 452,
                      R_LINE = 529;

inline std::string pad(const std::string& s, std::size_t width, char fill = ' ') {
    std::string r = s.substr(0, width);
    r.append(width - r.size(), fill);
    return r;
}
inline std::string num(unsigned value, int width) {
    char b[16];
    std::snprintf(b, sizeof b, "%0*u", width, value);
    return b;
}
inline std::string label(const char* text) {
    return pad(text, 25);
}

inline std::string header_bytes(unsigned start, unsigned end, unsigned news, unsigned overflow,
                                unsigned empty, const std::string& length = "15848") {
    std::string h = std::string(80, '!') + "\r\n";
    h += label("Header Record") + "\r\n";
    h += label("Error Start Record:") + num(start, 3) + "\r\n";
    h += label("Error End Record:") + num(end, 3) + "\r\n";
    h += label("Number of new Records:") + num(news, 3) + "\r\n";
    h += label("Overflow Record:") + num(overflow, 3) + "\r\n";
    h += label("Empty Record:") + num(empty, 3) + "\r\n";
    h += label("Log File Length:") + length + "\r\n";
    h += std::string(80, '!') + "\r\n";
    return h;
}

struct RecordFields {
    unsigned nr = 1;
    char state = 'E';
    unsigned previous = 0;
    unsigned next = 0;
    unsigned code = 0;
    std::string text = std::string(80, 'x');
    std::string component = std::string(15, '*');
    std::string date = "DD.MMM.YY";
    std::string time = "HH:MM:SS";
    std::string file = pad("-", 50);
    std::string line = pad("-", 6);
};

inline std::string header_bytes(const err::LogHeader& h) {
    return header_bytes(h.error_start_record, h.error_end_record, h.new_records, h.overflow_record,
                        h.empty_record);
}

inline std::string record_bytes(const RecordFields& f) {
    std::string r = std::string(80, '+') + "\r\n";
    r += label("Error Record Nr.:") + num(f.nr, 3) + "\r\n";
    r += label("Record State:") + std::string(1, f.state) + "\r\n";
    r += label("Previous Record:") + num(f.previous, 3) + "\r\n";
    r += label("Next Record:") + num(f.next, 3) + "\r\n";
    r += label("Error Code:") + num(f.code, 5) + "\r\n";
    r += pad(f.text, 80) + "\r\n";
    r += label("Component:") + pad(f.component, 15) + "\r\n";
    r += label("Date:") + pad(f.date, 9) + "\r\n";
    r += label("TIME:") + pad(f.time, 8) + "\r\n";
    r += label("File:") + pad(f.file, 50) + "\r\n";
    r += label("Line:") + pad(f.line, 6) + "\r\n";
    r += std::string(80, '+') + "\r\n";
    return r;
}

// A record as archive_n leaves it: component "COMP", file "file.c", line 10, the fixed clock.
inline RecordFields archived(unsigned nr, unsigned previous, unsigned next, unsigned code,
                             const std::string& text) {
    return {nr, 'V', previous, next, code, text, "COMP", kDate, kTime, "file.c", "10"};
}
// Such a record once erased: blank code, text and component, next 0; date, time, file and line
// kept.
inline RecordFields freed(unsigned nr, unsigned previous) {
    return {nr, 'E', previous, 0, 0, "", "", kDate, kTime, "file.c", "10"};
}

inline RecordFields new_record(unsigned n) {
    RecordFields f;
    f.nr = n;
    f.previous = n < 25 ? n + 1 : 0;
    return f;
}

// The bytes of a newly created log file.
inline std::string new_file() {
    std::string s = header_bytes(0, 0, 0, 0, 1);
    for (unsigned n = 1; n <= 25; ++n) s += record_bytes(new_record(n));
    return s;
}

// A file built by hand from its chains: errors oldest first, the free chain in order, and an
// overflow record (0: none). Errors get code 100 + n and text "E<n>".
inline std::string image_with(const std::vector<unsigned>& errors,
                              const std::vector<unsigned>& free_chain, unsigned overflow,
                              unsigned news) {
    std::vector<RecordFields> r(26);
    for (unsigned n = 1; n <= 25; ++n) {
        r[n] = new_record(n);
        r[n].previous = 0;
    }
    for (std::size_t i = 0; i < free_chain.size(); ++i)
        r[free_chain[i]].previous = i + 1 < free_chain.size() ? free_chain[i + 1] : 0;
    for (std::size_t i = 0; i < errors.size(); ++i) {
        RecordFields& f = r[errors[i]];
        f.state = 'V';
        f.code = 100 + errors[i];
        f.text = "E" + std::to_string(errors[i]);
        f.component = "COMP";
        f.previous = i > 0 ? errors[i - 1] : 0;
        f.next = i + 1 < errors.size() ? errors[i + 1] : 0;
    }
    if (overflow) {
        r[overflow].state = 'V';
        r[overflow].text = "MESSAGE BUFFER OVERFLOW";
        r[overflow].component = "";
    }
    std::string s =
        header_bytes(errors.empty() ? 0 : errors.back(), errors.empty() ? 0 : errors.front(), news,
                     overflow, free_chain.empty() ? 0 : free_chain.front());
    for (unsigned n = 1; n <= 25; ++n) s += record_bytes(r[n]);
    return s;
}

// Errors 3 (oldest), 7, 5 (newest), overflow record 9, the rest free.
inline std::string valid_image() {
    std::vector<unsigned> free_chain = {1, 2, 4, 6, 8};
    for (unsigned n = 10; n <= 25; ++n) free_chain.push_back(n);
    return image_with({3, 7, 5}, free_chain, 9, 4);
}

inline std::size_t rec_at(unsigned n) {
    return kHeader + (n - 1) * kRecord;
}

// Field of record n in file bytes.
inline std::string rfield(const std::string& file, unsigned n, std::size_t offset,
                          std::size_t width) {
    if (rec_at(n) + offset + width > file.size()) return "<outside>";
    return file.substr(rec_at(n) + offset, width);
}
inline void set_rfield(std::string& file, unsigned n, std::size_t offset, const std::string& v) {
    file.replace(rec_at(n) + offset, v.size(), v);
}
inline void set_hfield(std::string& file, std::size_t offset, const std::string& v) {
    file.replace(offset, v.size(), v);
}

inline std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
inline void write_file(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string console() {
    return rtx_host_console_text();
}

// The texts of failed file calls on a log.
const std::string kUserLog = "\\LOG\\USERERR.LOG";
inline std::string open_failed(const std::string& path = kUserLog) {
    return "error_task:\n-----------\nFailed to open file " + path + "\n";
}
inline std::string read_failed(const std::string& path = kUserLog) {
    return "error_task:\n-----------\nFailed to read from log file " + path + "\n";
}
inline std::string write_failed(const std::string& path = kUserLog) {
    return "error_task:\n-------------Failed to write to log file " + path + "\n";
}
inline std::string position_failed(unsigned record, const std::string& path = kUserLog) {
    return "error_task:\n-----------\nFailed to position to record " + std::to_string(record) +
           "\nin log file " + path + "\n";
}

// One entry of an archive file, stamped by the fixed clock.
inline std::string archive_entry(unsigned nr, unsigned code, const std::string& text,
                                 const std::string& component) {
    return std::to_string(nr) + "\r\n" + num(code, 5) + "\r\n" + text + "\r\n$$$\r\n" + component +
           "\r\n" + kDate + "\r\n" + kTime + "\r\n";
}

// A command block of 616/617: 8-byte head, count at byte 8, numbers from byte 10. count may
// differ from the numbers given (to test the bound by the block's length).
inline std::vector<std::uint8_t> erase_block(const std::vector<std::uint16_t>& numbers,
                                             std::uint16_t count) {
    std::vector<std::uint8_t> b = {
        616 & 0xFF, 616 >> 8, 0, 0, 0, 0, 0, 0, std::uint8_t(count), std::uint8_t(count >> 8)};
    for (std::uint16_t n : numbers) b.insert(b.end(), {std::uint8_t(n), std::uint8_t(n >> 8)});
    b[2] = std::uint8_t(b.size());
    return b;
}
inline bool erase(int log_id, const std::vector<std::uint16_t>& numbers) {
    const std::vector<std::uint8_t> b =
        erase_block(numbers, static_cast<std::uint16_t>(numbers.size()));
    return err::erase_selected_errors(log_id, b.data(), b.size());
}

inline err::LogCheckResult check_bytes(const std::string& bytes) {
    return err::check_log_image(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// A fresh root for every case: <tmp>/errlogNNNNNN (no "." in it) with its LOG folder, a boot
// file naming both logs below the root, console captured, the test clock set.
class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
        rtx_host_reset();
        err::reset_task_state();
        char tmpl[] = "/tmp/errlogXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        std::filesystem::create_directory(root_ / "LOG");
        rtx_host_set_root(root_.c_str());
        rtx_host_console_echo(0);
        rtx_host_console_clear();
        g_now = kFixedNow;
        err::set_log_clock_for_tests(test_clock);
        write_ini("[ErrorTask]\nSystemLogFile=\\LOG\\SYSERR.LOG\nUserLogFile=\\LOG\\USERERR.LOG\n");
    }
    void TearDown() override {
        rtx_host_clear_faults();
        err::set_log_clock_for_tests(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    void write_ini(const std::string& text) { write_file(root_ / "TARNBOOT.INI", text); }

    std::filesystem::path path_of(int log_id) const {
        return root_ / "LOG" / (log_id == 0 ? "SYSERR.LOG" : "USERERR.LOG");
    }
    std::filesystem::path user_path() const { return path_of(1); }
    std::filesystem::path bak_of(int log_id) const {
        return root_ / "LOG" / (log_id == 0 ? "SYSERR.BAK" : "USERERR.BAK");
    }
    std::string bytes_of(int log_id) const { return read_file(path_of(log_id)); }

    // Forgets the task state and any fault; no user log file or backup is left.
    void restart_without_user_log() {
        err::reset_task_state();
        rtx_host_clear_faults();
        std::filesystem::remove(user_path());
        std::filesystem::remove(bak_of(1));
    }
    // Sets up the log (creating its file) and clears the console.
    void start_log(int log_id) {
        ASSERT_TRUE(err::init_log_file(log_id)) << console();
        rtx_host_console_clear();
    }
    // Archives count errors with codes first, first + 1, ... and texts "E<code>".
    void archive_n(int log_id, unsigned count, unsigned first = 100) {
        for (unsigned i = 0; i < count; ++i) {
            std::string text = "E" + std::to_string(first + i);
            ASSERT_TRUE(err::archive_error(log_id, static_cast<std::uint16_t>(first + i),
                                           text.c_str(), "COMP", "file.c", 10))
                << console();
        }
    }
    err::LogHeader header(int log_id) const { return err::log_slot(log_id).header; }

    // The records the user log's file should hold, compared whole by expect_user_file.
    RecordFields records[26];
    // records as archive_n(1, count) leaves a new log under the fixed clock. The 26th error
    // turns record 1 (the oldest) into the overflow record and takes record 2.
    void model_errors(unsigned count) {
        for (unsigned n = 1; n <= 25; ++n)
            records[n] = n > count ? new_record(n)
                                   : archived(n, n - 1, n < count ? n + 1 : 0, 99 + n,
                                              "E" + std::to_string(99 + n));
        if (count > 25) {
            records[1] = archived(1, 0, 0, 0, "MESSAGE BUFFER OVERFLOW");
            records[1].component = "";
            records[2] = archived(2, 25, 0, 125, "E125");
            records[3].previous = 0;
            records[25].next = 2;
        }
    }
    // The user log's file is exactly header h over records; the task holds h as well.
    void expect_user_file(const err::LogHeader& h) {
        EXPECT_EQ(header(1), h);
        const std::string b = bytes_of(1);
        ASSERT_EQ(b.size(), kFile);
        EXPECT_EQ(b.substr(0, kHeader), header_bytes(h));
        for (unsigned n = 1; n <= 25; ++n)
            EXPECT_EQ(rfield(b, n, 0, kRecord), record_bytes(records[n])) << "record " << n;
    }

    // The file of log_id either still validates, or the next start moves it aside and
    // recreates it.
    void expect_valid_or_recovered(int log_id) {
        std::string bytes = bytes_of(log_id);
        err::LogCheckResult r = check_bytes(bytes);
        if (r.ok()) return;
        err::reset_task_state();
        rtx_host_clear_faults();
        rtx_host_console_clear();
        EXPECT_TRUE(err::init_log_file(log_id)) << console();
        EXPECT_EQ(read_file(bak_of(log_id)), bytes);
        EXPECT_EQ(bytes_of(log_id), new_file());
    }

    std::filesystem::path root_;
};

inline err::LogHeader hdr(std::uint16_t start, std::uint16_t end, std::uint16_t news,
                          std::uint16_t overflow, std::uint16_t empty) {
    return {start, end, news, overflow, empty};
}

}  // namespace log_test

// Comparison and printing of headers, found by argument lookup.
namespace err {
inline bool operator==(const LogHeader& a, const LogHeader& b) {
    return a.error_start_record == b.error_start_record &&
           a.error_end_record == b.error_end_record && a.new_records == b.new_records &&
           a.overflow_record == b.overflow_record && a.empty_record == b.empty_record;
}
inline std::ostream& operator<<(std::ostream& os, const LogHeader& h) {
    return os << "{start " << h.error_start_record << ", end " << h.error_end_record << ", new "
              << h.new_records << ", overflow " << h.overflow_record << ", empty " << h.empty_record
              << "}";
}
}  // namespace err
