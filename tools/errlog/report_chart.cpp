#include "report_chart.h"

#include <algorithm>
#include <cstdio>

namespace errlog {

namespace {

constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kDay = 86400;
constexpr std::size_t kMaxBars = 400;

// Geometry of the SVG (its own units; the page scales it to the width it has).
constexpr double kWidth = 1000, kLeft = 64, kRight = 12, kTop = 8;
constexpr double kPanel = 110, kPanelGap = 30, kAxis = 28;

struct Kind {
    LogKind kind;
    const char* name;
    const char* fill;  // a pattern of the Okabe-Ito colours
};
constexpr Kind kKinds[] = {{LogKind::system, "System log", "url(#fill-system)"},
                           {LogKind::user, "User log", "url(#fill-user)"},
                           {LogKind::other, "Other logs", "url(#fill-other)"}};

// The patterns: system solid vermilion, user blue with light diagonal stripes, other bluish
// green with dots; the panels are also named, so no colour has to be told apart.
constexpr const char* kPatterns =
    "<defs>"
    "<pattern id=\"fill-system\" width=\"8\" height=\"8\" patternUnits=\"userSpaceOnUse\">"
    "<rect width=\"8\" height=\"8\" fill=\"#D55E00\"/></pattern>"
    "<pattern id=\"fill-user\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
    "patternTransform=\"rotate(45)\"><rect width=\"6\" height=\"6\" fill=\"#0072B2\"/>"
    "<rect width=\"2\" height=\"6\" fill=\"#ffffff\" fill-opacity=\"0.55\"/></pattern>"
    "<pattern id=\"fill-other\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\">"
    "<rect width=\"6\" height=\"6\" fill=\"#009E73\"/>"
    "<circle cx=\"3\" cy=\"3\" r=\"1.2\" fill=\"#ffffff\"/></pattern>"
    "</defs>";

// The smallest of 1, 2, 5 times a power of ten that is at least n.
std::size_t nice_ceiling(std::size_t n) {
    std::size_t p = 1;
    while (true) {
        for (std::size_t m : {1, 2, 5})
            if (m * p >= n) return m * p;
        p *= 10;
    }
}

std::string bucket_label(std::int64_t t, bool hourly) {
    const CivilTime c = civil_time(t);
    char buf[32];
    if (hourly)
        std::snprintf(buf, sizeof buf, "%02d-%02d %02d:00", c.month, c.day, c.hour);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", c.year, c.month, c.day);
    return buf;
}

void printf_append(std::string& out, const char* format, auto... args) {
    char buf[512];
    const int n = std::snprintf(buf, sizeof buf, format, args...);
    if (n > 0) out.append(buf, std::min(static_cast<std::size_t>(n), sizeof buf - 1));
}

}  // namespace

std::string with_commas(std::size_t n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

CivilTime civil_time(std::int64_t seconds) {
    // The inverse of the era-based civil-day formula.
    std::int64_t days = seconds / kDay, rest = seconds % kDay;
    if (rest < 0) rest += kDay, --days;
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    CivilTime c;
    c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    c.year = static_cast<int>(yoe + era * 400 + (c.month <= 2 ? 1 : 0));
    c.hour = static_cast<int>(rest / kHour);
    c.minute = static_cast<int>(rest % kHour / 60);
    c.second = static_cast<int>(rest % 60);
    return c;
}

Buckets choose_buckets(std::int64_t first, std::int64_t last) {
    Buckets b;
    const auto floor_to = [](std::int64_t t, std::int64_t w) {
        return (t >= 0 ? t / w : (t - w + 1) / w) * w;
    };
    if (last - first <= 3 * kDay) {
        b.width = kHour;
    } else {
        const std::int64_t days = floor_to(last, kDay) / kDay - floor_to(first, kDay) / kDay + 1;
        b.width = kDay * ((days + static_cast<std::int64_t>(kMaxBars) - 1) /
                          static_cast<std::int64_t>(kMaxBars));
    }
    b.start = floor_to(first, b.width);
    b.count = static_cast<std::size_t>((last - b.start) / b.width + 1);
    return b;
}

void append_time_chart(std::string& out, const std::vector<TimePoint>& points) {
    if (points.empty()) {
        out += "<p>No error has a readable date and time.</p>\n";
        return;
    }
    std::int64_t first = points[0].stamp, last = first;
    bool other = false;
    for (const TimePoint& p : points) {
        first = std::min(first, p.stamp);
        last = std::max(last, p.stamp);
        other = other || p.kind == LogKind::other;
    }
    const Buckets b = choose_buckets(first, last);
    const std::size_t kinds = other ? 3 : 2;
    std::vector<std::vector<std::size_t>> counts(kinds, std::vector<std::size_t>(b.count));
    std::vector<std::size_t> totals(kinds);
    for (const TimePoint& p : points) {
        const auto k = static_cast<std::size_t>(p.kind);
        ++counts[k][static_cast<std::size_t>((p.stamp - b.start) / b.width)];
        ++totals[k];
    }
    std::size_t peak = 1;
    for (const auto& row : counts)
        for (std::size_t n : row) peak = std::max(peak, n);
    const std::size_t scale = nice_ceiling(peak);
    const bool hourly = b.width == kHour;
    const std::string unit = hourly            ? "hour"
                             : b.width == kDay ? "day"
                                               : std::to_string(b.width / kDay) + " days";

    const double plot = kWidth - kLeft - kRight;
    const double step = plot / static_cast<double>(b.count);
    const double height = kTop + static_cast<double>(kinds) * (kPanel + kPanelGap) + kAxis;
    printf_append(out,
                  "<p class=\"note\">Errors per %s, by the date and time stored in each entry; "
                  "one scale for all panels.</p>\n",
                  unit.c_str());
    printf_append(out,
                  "<svg id=\"time-chart\" class=\"chart\" viewBox=\"0 0 %.0f %.0f\" "
                  "role=\"img\" aria-label=\"Errors per %s, system and user logs apart\" "
                  "data-bucket=\"%s\" data-buckets=\"%zu\">",
                  kWidth, height, unit.c_str(), hourly ? "hour" : "day", b.count);
    out += kPatterns;
    for (std::size_t k = 0; k < kinds; ++k) {
        const double top = kTop + static_cast<double>(k) * (kPanel + kPanelGap) + 18;
        const double base = top + kPanel - 18;
        printf_append(out, "<text class=\"panel\" x=\"%.0f\" y=\"%.1f\">%s: %s errors</text>",
                      kLeft, top - 6, kKinds[k].name, with_commas(totals[k]).c_str());
        // The scale: the baseline, half and the top, each labelled.
        for (int g = 0; g <= 2; ++g) {
            const double y = base - (base - top) * g / 2.0;
            printf_append(
                out,
                "<line class=\"grid\" x1=\"%.0f\" x2=\"%.0f\" y1=\"%.1f\" y2=\"%.1f\"/>"
                "<text class=\"tick\" x=\"%.0f\" y=\"%.1f\" text-anchor=\"end\">%s</text>",
                kLeft, kWidth - kRight, y, y, kLeft - 6, y + 4,
                with_commas(scale * static_cast<std::size_t>(g) / 2).c_str());
        }
        printf_append(out, "<g fill=\"%s\">", kKinds[k].fill);
        const double bar = std::max(step * 0.8, 0.6);
        for (std::size_t i = 0; i < b.count; ++i) {
            const std::size_t n = counts[k][i];
            if (n == 0) continue;
            const double h = (base - top) * static_cast<double>(n) / static_cast<double>(scale);
            printf_append(
                out,
                "<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\">"
                "<title>%s: %zu</title></rect>",
                kLeft + step * static_cast<double>(i), base - h, bar, h,
                bucket_label(b.start + static_cast<std::int64_t>(i) * b.width, hourly).c_str(), n);
        }
        out += "</g>";
    }
    // The time axis under the last panel: about eight labels.
    const double axis = kTop + static_cast<double>(kinds) * (kPanel + kPanelGap) - kPanelGap + 4;
    const std::size_t every = std::max<std::size_t>(1, (b.count + 7) / 8);
    for (std::size_t i = 0; i < b.count; i += every) {
        const double x = kLeft + step * static_cast<double>(i);
        printf_append(
            out,
            "<line class=\"axis\" x1=\"%.1f\" x2=\"%.1f\" y1=\"%.1f\" y2=\"%.1f\"/>"
            "<text class=\"tick\" x=\"%.1f\" y=\"%.1f\">%s</text>",
            x, x, axis - 4, axis + 2, x, axis + 16,
            bucket_label(b.start + static_cast<std::int64_t>(i) * b.width, hourly).c_str());
    }
    out += "</svg>\n";
}

}  // namespace errlog
