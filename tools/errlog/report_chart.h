// The report page's chart of errors over time: an SVG drawn from the entries' stamps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report_page.h"

namespace errlog {

// A calendar date and time of a count of seconds since 1970-01-01 00:00:00.
struct CivilTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
CivilTime civil_time(std::int64_t seconds);

// A count with thousands separated by commas: "152,000".
std::string with_commas(std::size_t n);

// One error with a readable stamp, and the kind of log it was found in.
struct TimePoint {
    std::int64_t stamp;
    LogKind kind;
};

// How the chart groups the errors: per hour when the stamps span at most three days, else per
// day, or per several days so that no chart has more than 400 bars.
struct Buckets {
    std::int64_t start = 0;  // the first bucket's first second
    std::int64_t width = 3600;
    std::size_t count = 0;
};
Buckets choose_buckets(std::int64_t first, std::int64_t last);

// Appends the chart: one panel per kind of log (system and user always, other when there are
// such logs), on one shared scale, each panel named with its total, bars hatched per kind so
// that colour is not needed to tell them apart. Points need no order.
void append_time_chart(std::string& out, const std::vector<TimePoint>& points);

}  // namespace errlog
