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
// The text is built in memory while the chain is walked and written with one call once the
// log is closed, its entry count already in the first line; when that write fails the export
// fails. A record that cannot be read ends the entries: the file holds those before it, and
// its first line counts them.
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

// The archive text, built in memory and written with one call: the head and at most 26 entries
// (the overflow entry and 25 errors), each of which fits kArchiveLineMax. Only the error task
// exports, one export at a time.
class ArchiveText {
  public:
    char* end() { return text_ + used_; }
    std::size_t room() const { return sizeof text_ - used_; }
    // Keeps what the last format put at end(); false when it did not fit.
    bool keep(int n) {
        if (n < 0 || static_cast<std::size_t>(n) >= room()) return false;
        used_ += static_cast<std::size_t>(n);
        return true;
    }
    // Puts the entry count over the head's first line ("000", written when the head was).
    bool put_count(std::uint16_t count) {
        char line[kArchiveLineMax];
        const int n = format_archive_count(line, sizeof line, count);
        if (n < 0 || static_cast<std::size_t>(n) > used_) return false;
        std::memcpy(text_, line, static_cast<std::size_t>(n));
        return true;
    }
    bool write_to(rtx_file* file) const { return rtx_file_write(file, text_, used_) == used_; }
    void clear() { used_ = 0; }

  private:
    char text_[(LOG_RECORD_COUNT + 2) * kArchiveLineMax];
    std::size_t used_ = 0;
};
ArchiveText g_text;

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

    if (!open_log_stream(log_id)) {
        // The log's header stays as it was.
        char line[kArchiveLineMax];
        const char* date = log_date_string();
        const char* time = log_time_string();
        int n = std::snprintf(line, sizeof line, "001\r\n1\r\nN\r\n0\r\n%s\r\n%s\r\n%s\r\n",
                              kNoticeText, date, time);
        if (!write_formatted(out, line, sizeof line, n)) result = false;
        rtx_file_close(out);
        return result;
    }

    // The head carries the count 000 until the entries are done.
    ArchiveText& text = g_text;
    text.clear();
    LogHeader& h = log_slot(log_id).header;
    if (!text.keep(
            format_archive_head(text.end(), text.room(), 0, h.new_records, h.overflow_record != 0)))
        result = false;

    // The chain is walked through the records read with one call.
    load_log_records(log_id);
    if (h.overflow_record != 0 && result) {
        const std::uint8_t* record = loaded_log_record(log_id, h.overflow_record);
        if (!record ||
            !text.keep(format_overflow_entry(text.end(), text.room(), h.overflow_record, record)))
            result = false;
        else
            ++count;
    }

    // Newest to oldest. At most 25 records are visited, so a chain that loops in a file
    // damaged while running cannot hold the task.
    std::uint16_t nr = h.error_start_record;
    for (std::size_t steps = 0; result && nr != 0; ++steps) {
        const std::uint8_t* record =
            steps == LOG_RECORD_COUNT ? nullptr : loaded_log_record(log_id, nr);
        if (!record || !text.keep(format_record_entry(text.end(), text.room(), nr, record))) {
            result = false;
            break;
        }
        ++count;
        nr = previous_of(record);
    }

    // Exporting clears the count of new errors, also when an entry could not be read.
    h.new_records = 0;
    if (!close_log(log_id)) result = false;

    // The whole text in one write, the count of the entries it holds in its first line.
    if (!text.put_count(count) || !text.write_to(out)) result = false;

    rtx_file_close(out);
    return result;
}

}  // namespace err
