// The clock behind the log's date and time stamps.
#pragma once

#include <ctime>

namespace err {

// Replaces the calendar clock read by log_date_string and log_time_string (null: back to
// std::time). Tests use it to get fixed stamps; the conversion to local time stays as it is.
void set_log_clock_for_tests(std::time_t (*now)());

}  // namespace err
