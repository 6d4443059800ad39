// The forms in which `show` writes merged entries: table rows led by their log, JSON Lines and
// CSV, each written line by line as the merge yields them.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "log_view.h"

namespace errlog {

// The heading of the merged table: "log" padded to width, then the heading of the rows.
std::string merged_heading(std::size_t width);
// One row of the merged table: the log's name padded to width, then format_row.
std::string merged_row(std::string_view log, std::size_t width, const EntryFields& e);
void append_merged_row(std::string& out, std::string_view log, std::size_t width,
                       const EntryFields& e);

// One line of `show --jsonl` (without its line end): the entry of the log named log.
std::string jsonl_line(std::string_view log, const EntryFields& e);
// The same appended to out (a fleet's lines built in one buffer).
void append_jsonl_line(std::string& out, std::string_view log, const EntryFields& e);

// `show --csv`: the header row, and one row (RFC 4180: fields quoted when they hold a comma,
// quote, CR or LF; quotes doubled; CR LF line ends, written by the caller).
extern const char* const kCsvHeader;
std::string csv_row(std::string_view log, const EntryFields& e);

// The stored source line as a number: an optional sign and decimal digits, as the error task
// writes it with %d. False for anything else ("-", blank): JSON's null.
bool source_line_number(std::string_view text, long& out);

// A JSON string literal of bytes from a file: escapes as JSON asks, and every byte sequence
// that is not UTF-8 replaced by U+FFFD.
void append_json_string(std::string& out, std::string_view text);

}  // namespace errlog
