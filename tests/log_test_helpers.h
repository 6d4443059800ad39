// Helpers of the log tests: a fresh root folder with its LOG folder and boot file, a quiet
// console, a fixed clock (7 March 2004, 09:05:31 UTC), the texts of failed file calls.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
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

constexpr std::time_t kFixedNow = 1078650331;
inline std::time_t g_now = kFixedNow;
inline std::time_t test_clock() {
    return g_now;
}

inline std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
inline void write_file(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}
inline std::string console() {
    return rtx_host_console_text();
}

const std::string kUserLog = "\\LOG\\USERERR.LOG";
inline std::string open_failed(const std::string& path = kUserLog) {
    return "error_task:\n-----------\nFailed to open file " + path + "\n";
}
inline std::string read_failed() {
    return "error_task:\n-----------\nFailed to read from log file " + kUserLog + "\n";
}
inline std::string write_failed() {
    return "error_task:\n-------------Failed to write to log file " + kUserLog + "\n";
}
inline std::string position_failed(unsigned record) {
    return "error_task:\n-----------\nFailed to position to record " + std::to_string(record) +
           "\nin log file " + kUserLog + "\n";
}

// Command 616 with the record numbers listed (count at byte 8, numbers from byte 10).
inline bool erase(int log_id, const std::vector<std::uint16_t>& numbers) {
    std::vector<std::uint8_t> b = {0x68, 0x02, 0, 0, 0, 0, 0, 0, std::uint8_t(numbers.size()), 0};
    for (std::uint16_t n : numbers) b.insert(b.end(), {std::uint8_t(n), std::uint8_t(n >> 8)});
    b[2] = std::uint8_t(b.size());
    return err::erase_selected_errors(log_id, b.data(), b.size());
}

inline bool valid(const std::string& bytes) {
    return err::check_log_image(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())
        .ok();
}

inline err::LogHeader hdr(std::uint16_t start, std::uint16_t end, std::uint16_t news,
                          std::uint16_t overflow, std::uint16_t empty) {
    return {start, end, news, overflow, empty};
}

// A fresh root for every case (/tmp/errlogXXXXXX, no "." in it) with its LOG folder and a boot
// file naming both logs, console captured, the test clock set.
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
    std::filesystem::path user_path() const { return root_ / "LOG" / "USERERR.LOG"; }
    std::filesystem::path user_bak() const { return root_ / "LOG" / "USERERR.BAK"; }
    err::LogHeader header() const { return err::log_slot(1).header; }

    // Sets up the user log (creating its file) and clears the console.
    void start_log() {
        ASSERT_TRUE(err::init_log_file(1)) << console();
        rtx_host_console_clear();
    }
    // Archives count errors into the user log, codes first, first + 1, ..., texts "E<code>".
    void archive_n(unsigned count, unsigned first = 100) {
        for (unsigned i = 0; i < count; ++i) {
            std::string text = "E" + std::to_string(first + i);
            ASSERT_TRUE(
                err::archive_error(1, std::uint16_t(first + i), text.c_str(), "COMP", "file.c", 10))
                << console();
        }
    }

    std::filesystem::path root_;
};

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
