// Export of a log into an archive file.
//
// The archive file is text, every line ended by CR LF, written without newline translation:
//   head:     entry count "000".."025" (written as 000 first, rewritten at the end),
//             new_records before the export ("%d"), "O" with an overflow record or "N";
//   overflow: number, empty line, text, "$$$", empty line, date, time;
//   each error from the newest to the oldest:
//             number, 5-digit code, text (several lines where it holds CR LF), "$$$",
//             component, date, time.
// Texts and components are written without trailing blanks. When the log cannot be opened
// the whole file is a fixed notice instead ("ARCHIVE FILE CORRUPTED").
//
// An archive file never takes the place of a log: an archive name that names the system or the
// user log's file, or the backup name of either, is refused before any file is opened. The
// names are compared by the executive (rtx_file_same), so other spellings of one file count.
#include <cstdio>
#include <cstring>

#include "log.h"
#include "log_format.h"
#include "log_texts.h"
#include "rtx/rtx.h"
#include "task_state.h"

namespace err {

using namespace logfmt;

namespace {

constexpr const char* kNoticeText = "ARCHIVE FILE CORRUPTED";

// Writes what snprintf put into line (n bytes); false when it did not fit or fell short.
bool write_formatted(rtx_file* file, const char* line, std::size_t size, int n) {
    if (n < 0 || static_cast<std::size_t>(n) >= size) return false;
    return rtx_file_write(file, line, static_cast<std::size_t>(n)) == static_cast<std::size_t>(n);
}

// Whether name is the file or the backup of a log that is set up (a switched-off log has no
// path and no file).
bool names_a_log(const char* name) {
    for (int log_id = 0; log_id <= 1; ++log_id) {
        const char* path = log_slot(log_id).path;
        if (path[0] == 0) continue;
        char backup[kPathSize];
        if (rtx_file_same(name, path) != 0 ||
            (make_backup_name(path, backup, sizeof backup) && rtx_file_same(name, backup) != 0))
            return true;
    }
    return false;
}

}  // namespace

std::uint16_t trimmed_length(const std::uint8_t* field, std::uint16_t width) {
    if (!field) return 0;
    return static_cast<std::uint16_t>(trimmed_width(field, width));
}

bool export_log(int log_id, const char* archive_name) {
    if (!archive_name) return false;
    if (names_a_log(archive_name)) {
        boot_printf(kTextExportOntoLog, archive_name);
        return false;  // no file is touched
    }
    bool result = true;
    std::uint16_t count = 0;

    rtx_file* out = rtx_file_open(archive_name, "wb");
    if (!out) return false;  // the log is not touched

    char line[kArchiveLineMax];

    if (!open_log_stream(log_id)) {
        // The log's header stays as it was.
        const char* date = log_date_string();
        const char* time = log_time_string();
        int n = std::snprintf(line, sizeof line, "001\r\n1\r\nN\r\n0\r\n%s\r\n%s\r\n%s\r\n",
                              kNoticeText, date, time);
        if (!write_formatted(out, line, sizeof line, n)) result = false;
        rtx_file_close(out);
        return result;
    }

    LogHeader& h = log_slot(log_id).header;
    int n = format_archive_head(line, sizeof line, 0, h.new_records, h.overflow_record != 0);
    if (!write_formatted(out, line, sizeof line, n)) result = false;

    std::uint8_t record[LOG_RECORD_SIZE];
    if (h.overflow_record != 0 && result) {
        if (!read_log_record(log_id, record, h.overflow_record)) {
            result = false;
        } else {
            n = format_overflow_entry(line, sizeof line, h.overflow_record, record);
            // Counted once written, whether the write succeeded or not.
            if (!write_formatted(out, line, sizeof line, n)) result = false;
            ++count;
        }
    }

    // Newest to oldest. At most 25 records are visited, so a chain that loops in a file
    // damaged while running cannot hold the task.
    std::uint16_t nr = h.error_start_record;
    for (std::size_t steps = 0; result && nr != 0; ++steps) {
        if (steps == LOG_RECORD_COUNT || !read_log_record(log_id, record, nr)) {
            result = false;
            break;
        }
        n = format_record_entry(line, sizeof line, nr, record);
        if (!write_formatted(out, line, sizeof line, n)) result = false;
        ++count;
        nr = previous_of(record);
    }

    // Exporting clears the count of new errors, also when writing entries failed.
    h.new_records = 0;
    if (!close_log(log_id)) result = false;

    n = format_archive_count(line, sizeof line, count);
    if (rtx_file_seek(out, 0, SEEK_SET) != 0 || !write_formatted(out, line, sizeof line, n))
        result = false;

    rtx_file_close(out);
    return result;
}

}  // namespace err
