// Helpers of the log tests: a fresh root folder of the host system (LOG folder, boot file naming
// both logs), a quiet console, a fixed clock (7 March 2004, 09:05:31 UTC), the failure texts.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host_system/root.h"
#include "log.h"
#include "log_check.h"
#include "log_clock.h"
#include "rtx/rtx_host.h"
#include "task_state.h"

namespace log_test {

inline std::time_t g_now;

inline std::string console() {
    return rtx_host_console_text();
}
inline std::string open_failed(const std::string& path = "\\LOG\\USERERR.LOG") {
    return "error_task:\n-----------\nFailed to open file " + path + "\n";
}
inline const std::string kReadFailed =
    "error_task:\n-----------\nFailed to read from log file \\LOG\\USERERR.LOG\n";
inline const std::string kWriteFailed =
    "error_task:\n-------------Failed to write to log file \\LOG\\USERERR.LOG\n";
inline std::string position_failed(unsigned record) {
    return "error_task:\n-----------\nFailed to position to record " + std::to_string(record) +
           "\nin log file \\LOG\\USERERR.LOG\n";
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

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
        rtx_host_reset();
        err::reset_task_state();
        root_.emplace(host_system::Root::temporary("errlog"));
        root_->enter();
        rtx_host_console_echo(0);
        rtx_host_console_clear();
        g_now = 1078650331;
        err::set_log_clock_for_tests([] { return g_now; });
    }

    std::string read(const std::string& relative) const { return root_->text(relative); }
    std::string path(const std::string& relative) const { return root_->host_path(relative); }
    // The user log's header as the task holds it: start, end, new, overflow and empty record.
    std::string header() const {
        const err::LogHeader& h = err::log_slot(1).header;
        char t[40];
        std::snprintf(t, sizeof t, "%u %u %u %u %u", h.error_start_record, h.error_end_record,
                      h.new_records, h.overflow_record, h.empty_record);
        return t;
    }

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

    std::optional<host_system::Root> root_;
};

}  // namespace log_test
