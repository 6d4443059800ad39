// The fleet report page: one self-contained HTML file (errlog report).
//
// The page needs nothing but itself: its style, its script, its charts (SVG drawn here) and its
// data are all inside the file, so it opens offline and makes no request. Texts from the logs
// are escaped for the place they land in (HTML text, attribute, or the inline data block), so a
// log can never add markup or script to the page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace errlog {

// Which of an instrument's two logs a file is.
enum class LogKind : std::uint8_t { system, user, other };

// One log file of the selection, valid or not.
struct ReportLog {
    std::string path;        // as it was found
    std::string instrument;  // the folder the log lies in
    LogKind kind = LogKind::other;
    bool valid = true;
    int rule = 0;        // the broken rule of a corrupt log
    std::string reason;  // what breaks in a corrupt log
};

// One entry of the report, as the caller selected it. The views must outlive the page's
// writing (they usually point into the logs' entries).
struct ReportEntry {
    std::uint32_t log = 0;  // index into ReportInput::logs
    bool overflow = false;  // the overflow marker of a log (no code, not counted as an error)
    std::uint16_t code = 0;
    bool has_stamp = false;       // false when the stored date or time cannot be read
    std::int64_t stamp = 0;       // seconds since 1970-01-01 00:00:00 of the stored date and time
    std::string_view date, time;  // as stored (shown when has_stamp is false)
    std::string_view text, component, file, line;
};

struct ReportInput {
    std::string title;                    // the page's heading
    std::vector<ReportLog> logs;          // every log file read (valid and corrupt)
    std::vector<std::string> unreadable;  // "PATH: REASON" for each file that could not be read
    std::size_t backups = 0;              // backup files (.BAK) beside the logs
    std::string filters;                  // the filters applied, as the user gave them ("" none)
    bool oldest_first = false;            // the entries' order (the table starts in it)
    std::vector<ReportEntry> entries;     // newest first, or oldest first
};

// Seconds since 1970-01-01 00:00:00 of a calendar date and time (proleptic Gregorian, no zone).
std::int64_t epoch_seconds(int year, int month, int day, int hour, int minute, int second);

// The whole page for input, appended to out.
void write_report_page(const ReportInput& input, std::string& out);

// Escapes for the page, exposed for the tests. Bytes that are not UTF-8 become U+FFFD.
// HTML text and attribute values: & < > " ' as character references.
void append_html(std::string& out, std::string_view text);
// A JSON string literal (with its quotes) safe inside an inline <script>: < > & and U+2028,
// U+2029 as \u escapes besides JSON's own.
void append_script_string(std::string& out, std::string_view text);

}  // namespace errlog
