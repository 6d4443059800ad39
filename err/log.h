// The error logs: set-up at task start, record access, archiving, erasing and export.
//
// log_id 0 is the system log, any other value the user log. Every operation that can fail
// prints its failure on the boot console and returns false; the task goes on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log_format.h"

namespace err {

// ---- Record access primitives ----
bool open_log_stream(int log_id);
bool read_log_record(int log_id, std::uint8_t* buffer, std::uint16_t record_nr);
bool write_log_record(int log_id, const std::uint8_t* buffer);
// Records 1 to 25 of the log's open stream, read with one seek and one read, for the operations
// that walk a chain through the whole log (validation, export). Prints nothing itself: a record
// that the read did not reach fails when it is taken, with the text that read_log_record prints.
void load_log_records(int log_id);
// Record n as loaded by the last load_log_records, or null: n of 0 or above 25 fails quietly;
// after a failed seek the record prints the positioning text, after a short read the read text.
const std::uint8_t* loaded_log_record(int log_id, std::uint16_t record_nr);
// Field writers, inline: every record a log operation touches takes several of them, and with
// the width known where they are called each one is a few stores.
inline void put_text_field(std::uint8_t* dest, std::uint16_t width, const char* text) {
    if (dest) logfmt::encode_text(dest, width, text);
}
inline void put_number_field(std::uint8_t* dest, std::uint16_t width, std::uint16_t value) {
    if (dest) logfmt::encode_number(dest, width, value);
}
const char* log_date_string();
const char* log_time_string();
// The date and time fields of the record at record, both from one reading of the clock: as
// put_text_field puts log_date_string() and log_time_string() there.
void put_stamp_fields(std::uint8_t* record);

// ---- Set-up at task start ----
bool init_log_file(int log_id);
bool open_log_file(int log_id);
bool create_log_file(int log_id);
// The backup name of a log's path: the path cut at its first "." (wherever it stands) and
// ".BAK" appended; a path without "." gets ".BAK" appended whole, so that it still has a backup
// distinct from itself. False when the name would not fit size bytes.
bool make_backup_name(const char* path, char* out, std::size_t size);

// ---- Archiving ----
bool archive_error(int log_id, std::uint16_t error_code, const char* text, const char* component,
                   const char* file, std::int32_t line);
bool get_free_record(int log_id, std::uint8_t* buffer);
bool link_new_record(int log_id, std::uint8_t* buffer);
bool close_log(int log_id);
// Stores text in a field of width bytes: each line break as CR LF where at least three places
// remain, cut where the field is full, the rest blank. False when the field could not hold
// all of it (a character or a line break was left out).
bool text_to_field(std::uint8_t* field, std::uint16_t width, const char* text);

// ---- Erasing ----
// block/block_length: the whole command block of 616/617; the count is read at block byte 8
// and the record numbers from byte 10, never past block_length.
bool erase_selected_errors(int log_id, const std::uint8_t* block, std::size_t block_length);
bool erase_all_errors(int log_id);

// ---- Export ----
// Refused (false, with its console text, no file touched) when archive_name names either log's
// file or its backup name.
bool export_log(int log_id, const char* archive_name);
std::uint16_t trimmed_length(const std::uint8_t* field, std::uint16_t width);

}  // namespace err
