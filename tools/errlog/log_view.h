// Reading error log files on the host: the errlog tool and errsim's `show` command.
//
// Everything here works on the file's bytes in memory, with the module's own format code
// (log_format.h) and its validation (log_check.h); nothing writes the log it reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log_check.h"
#include "log_format.h"

namespace errlog {

// One record that holds an error (or the overflow marker), as stored.
struct Entry {
    std::uint16_t record = 0;  // the record's number (its position in the file)
    bool overflow = false;     // the overflow marker
    std::string code;          // error_code, the 5 digits as stored
    std::uint16_t code_value = 0;
    std::string text;               // error_text without trailing blanks (line breaks stay CR LF)
    std::string component;          // without trailing blanks
    std::string date;               // "DD.MMM.YY" as stored
    std::string time;               // "HH:MM:SS" as stored
    std::string file;               // source_file without trailing blanks ("-": none)
    std::string line;               // source_line without trailing blanks ("-": none)
    std::vector<std::uint8_t> raw;  // the whole record, LOG_RECORD_SIZE bytes
    // salvage: at its place in a file whose whole header does not vouch for it (salvage_trust.h)
    bool unconfirmed = false;
};

// An entry's fields as views into an Entry, a record's bytes or a fleet's pool: what the
// formatters and filters read. Text fields without trailing blanks, as in Entry.
struct EntryFields {
    std::uint16_t record = 0;
    bool overflow = false;
    std::uint16_t code_value = 0;
    std::string_view code, text, component, date, time, file, line;
};
EntryFields fields_of(const Entry& e);
// An Entry holding copies of the fields (raw stays empty).
Entry entry_of(const EntryFields& f);
// The fields of the record at record (LOG_RECORD_SIZE bytes), numbered nr.
EntryFields record_fields(const std::uint8_t* record, std::uint16_t nr, bool overflow);

struct Log {
    std::vector<std::uint8_t> bytes;
    err::LogCheckResult check;
    std::string reason;  // describe_log_check: "valid" or what breaks
    int rule = 0;        // number of the broken rule (docs/log-format.md), 0 when valid

    // Header links (read when the header record is complete).
    std::uint16_t error_start = 0, error_end = 0, new_records = 0, overflow_record = 0,
                  empty_record = 0;
    std::uint32_t length_field = 0;

    // Only for a valid log:
    std::vector<Entry> errors;            // newest first
    std::size_t error_count = 0;          // errors.size() as read (kept when errors are dropped)
    std::optional<Entry> overflow_entry;  // the overflow marker
    std::size_t free_records = 0;

    bool valid() const { return check.ok(); }
};

// The date and time stored in an entry ("DD.MMM.YY", "HH:MM:SS") as a calendar time. Years 70
// to 99 are 1970 to 1999, 00 to 69 are 2000 to 2069. False when either is no real date or
// time of day (the placeholders of a new record, a day the month does not have, hour 24...).
struct Stamp {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
bool parse_stamp(const Entry& e, Stamp& out);
bool parse_stamp(std::string_view date, std::string_view time, Stamp& out);
// Whether the stamp is a real date (the month has the day) and time of day (second 60: a leap
// second).
bool is_real_stamp(const Stamp& t);
// A number that orders stamps as time does: YYYYMMDDhhmmss.
long long stamp_key(const Stamp& t);
// The key of the entry's stored date and time; none when they are no real date and time.
std::optional<long long> stamp_key(const Entry& e);
std::optional<long long> stamp_key(std::string_view date, std::string_view time);
// ISO 8601 local time without a zone: "2026-12-05T17:21:31".
std::string iso_time(const Stamp& t);

// Reads a whole file, at most LOG_FILE_SIZE + 1 bytes (see log_read.h); a longer file is
// refused with "longer than a log". False with a reason (strerror) when it cannot.
bool read_file(const std::string& path, std::vector<std::uint8_t>& out, std::string& error);
bool write_file(const std::string& path, const std::string& bytes, std::string& error);

// Validates the bytes with the module's test and, for a valid log, walks its chains.
Log inspect_log(std::vector<std::uint8_t> bytes);
// The same for the first bytes of a file whose real length is file_length (a file longer than
// a log is read only as far as needed to tell): a file of another length is corrupt by rule 2.
// With read_entries false, errors and overflow_entry stay empty (error_count, free_records and
// the header's numbers are still set): visit_entries reads them from the bytes.
Log inspect_log(std::vector<std::uint8_t> bytes, std::int64_t file_length,
                bool read_entries = true);

// Calls visit(record, number, overflow) for each entry of a valid log whose bytes are still
// there: its errors newest first along the error chain, then its overflow marker.
template <class Visit>
void visit_entries(const Log& log, Visit visit);

// Whether bytes start with a log's header record: at least its 373 bytes, with its borders,
// line ends and labels in place. What tells a log file from any other file in a folder.
bool holds_log_header(const std::uint8_t* bytes, std::size_t size);

// The fields of the record at record (LOG_RECORD_SIZE bytes), numbered nr.
Entry read_entry(const std::uint8_t* record, std::uint16_t nr);

// The head line of a valid log's table: "TITLE: N errors, N new, overflow record N, N free".
std::string log_head(const Log& log, std::string_view title);
// A table of a valid log: "TITLE: N errors, N new, ..." then a heading and one row per
// error, newest first, the overflow marker last. Rows start with two blanks.
std::vector<std::string> format_table(const Log& log, std::string_view title);
// Rows of any list of entries (for salvage), in the given order, with the heading.
std::vector<std::string> format_rows(const std::vector<Entry>& entries);
// The heading of the rows, and one row (both start with two blanks).
extern const char* const kRowsHeading;
std::string format_row(const Entry& e);
std::string format_row(const EntryFields& e);
// The same appended to row.
void append_row(std::string& row, const EntryFields& e);

// The archive file that the error task writes when it exports a log: the head (entry count,
// new_records, "O"/"N"), the overflow entry, then the errors newest first, CR LF line ends.
std::string archive_text(std::uint16_t new_records, const std::optional<Entry>& overflow,
                         const std::vector<Entry>& newest_first);

// Every record of the bytes that still reads as an error: a complete record whose borders,
// labels and line ends sit where they belong and whose state is 'V'. Found at the record
// places of the file, and also where a record's top border begins elsewhere (a file shifted
// by lost or extra bytes). Oldest first: by date and time; records of the same second keep
// the order of the error chain as far as it can still be walked, then file order; records
// whose date or time cannot be read come first, in file order. A record at its place that the
// file's whole header does not vouch for is marked unconfirmed: it may be one that an update
// cut short was writing, and hold parts of two errors.
std::vector<Entry> salvage(const std::vector<std::uint8_t>& bytes);

// A newly created log file, byte for byte as the error task creates one.
std::vector<std::uint8_t> new_log_image();

// C escapes for '"', '\\' and control characters; CR LF reads "\n".
std::string escape(std::string_view text);
void append_escaped(std::string& out, std::string_view text);

// ---- Templates ----

template <class Visit>
void visit_entries(const Log& log, Visit visit) {
    if (!log.valid()) return;
    const std::uint8_t* bytes = log.bytes.data();
    // A valid log: every walk ends and reads whole records.
    for (std::uint16_t n = log.error_start; err::logfmt::is_record_number(n);) {
        const std::uint8_t* r = bytes + err::logfmt::record_offset(n);
        visit(r, n, false);
        n = err::logfmt::previous_of(r);
    }
    if (err::logfmt::is_record_number(log.overflow_record))
        visit(bytes + err::logfmt::record_offset(log.overflow_record), log.overflow_record, true);
}

}  // namespace errlog
