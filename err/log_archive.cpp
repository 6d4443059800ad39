// Archiving an error: take a record (a free one, or the oldest error when the log is full),
// fill it, link it in as the newest error, and write the header back.
//
// The in-memory log_header is the authority: each operation changes it first and copies it
// into the header record with close_log at its end. Records are written as soon as each one
// is changed, the header last.
#include <cstdio>
#include <cstring>

#include "log.h"
#include "log_format.h"
#include "log_texts.h"
#include "rtx/rtx.h"
#include "task_state.h"

namespace err {

using namespace logfmt;

bool archive_error(int log_id, std::uint16_t error_code, const char* text, const char* component,
                   const char* file, std::int32_t line) {
    // The system log stores its errors exactly like the user log: nothing reported for either
    // log is silently left out.
    if (!open_log_stream(log_id)) return false;

    std::uint8_t record[LOG_RECORD_SIZE];
    bool result = get_free_record(log_id, record);
    if (result) {
        if (text)
            text_to_field(record + kRecText, kTextWidth, text);
        else
            put_text_field(record + kRecText, kTextWidth, "");
        if (component)
            text_to_field(record + kRecComponent, kComponentWidth, component);
        else
            put_text_field(record + kRecComponent, kComponentWidth, "");
        put_number_field(record + kRecCode, kCodeWidth, error_code);
        put_stamp_fields(record);
        if (file)
            text_to_field(record + kRecFile, kFileWidth, file);
        else
            put_text_field(record + kRecFile, kFileWidth, kNoSourceFile);
        char digits[16];
        decimal_text(line, digits);
        put_text_field(record + kRecLine, kLineWidth, digits);

        result = link_new_record(log_id, record);
    }
    if (!close_log(log_id)) result = false;
    return result;
}

bool get_free_record(int log_id, std::uint8_t* buffer) {
    LogHeader& h = log_slot(log_id).header;

    if (h.empty_record != 0) {
        if (!read_log_record(log_id, buffer, h.empty_record)) return false;
        h.empty_record = previous_of(buffer);
        return true;
    }

    // The log is full. The first time, the oldest error becomes the overflow record, so that
    // a reader sees that older errors were lost.
    std::uint8_t local[LOG_RECORD_SIZE];
    if (h.overflow_record == 0) {
        const std::uint16_t oldest = h.error_end_record;
        if (!read_log_record(log_id, local, oldest)) return false;
        h.error_end_record = next_of(local);
        // record_state, source_file and source_line keep what the oldest error had.
        put_text_field(local + kRecText, kTextWidth, kOverflowText);
        put_text_field(local + kRecComponent, kComponentWidth, "");
        put_number_field(local + kRecPrevious, kRecordNumberWidth, 0);
        put_number_field(local + kRecNext, kRecordNumberWidth, 0);
        put_number_field(local + kRecCode, kCodeWidth, 0);
        put_stamp_fields(local);
        h.overflow_record = oldest;
        if (!write_log_record(log_id, local)) return false;
    }

    // The new error takes the record of the oldest error.
    if (!read_log_record(log_id, buffer, h.error_end_record)) return false;
    h.error_end_record = next_of(buffer);

    // The next oldest is now the oldest: nothing before it.
    if (!read_log_record(log_id, local, h.error_end_record)) return false;
    put_number_field(local + kRecPrevious, kRecordNumberWidth, 0);
    return write_log_record(log_id, local);
}

bool link_new_record(int log_id, std::uint8_t* buffer) {
    LogHeader& h = log_slot(log_id).header;
    const std::uint16_t n = record_nr(buffer);

    if (h.error_start_record != 0) {
        std::uint8_t local[LOG_RECORD_SIZE];
        if (!read_log_record(log_id, local, h.error_start_record)) return false;
        put_number_field(local + kRecNext, kRecordNumberWidth, n);
        if (!write_log_record(log_id, local)) return false;
    }

    put_number_field(buffer + kRecNext, kRecordNumberWidth, 0);
    put_number_field(buffer + kRecPrevious, kRecordNumberWidth, h.error_start_record);
    put_text_field(buffer + kRecState, kStateWidth, "V");

    h.error_start_record = n;
    if (h.error_end_record == 0) h.error_end_record = n;

    if (!write_log_record(log_id, buffer)) return false;

    // At most 25 new errors, 24 while the overflow record takes one place.
    const std::uint16_t limit = h.overflow_record != 0 ? LOG_RECORD_COUNT - 1 : LOG_RECORD_COUNT;
    h.new_records = h.new_records >= limit ? limit : static_cast<std::uint16_t>(h.new_records + 1);
    return true;
}

bool close_log(int log_id) {
    LogSlot& slot = log_slot(log_id);
    if (!slot.stream) return false;  // nothing open: nothing to write back

    auto fail = [&](const char* text) {
        boot_printf(text, slot.path);
        rtx_file_close(slot.stream);
        slot.stream = nullptr;
        return false;
    };

    // Only the five link fields change; every other byte, the length line among them, stays
    // as read.
    std::uint8_t header[LOG_HEADER_SIZE];
    if (rtx_file_seek(slot.stream, 0, SEEK_SET) != 0 ||
        rtx_file_read(slot.stream, header, LOG_HEADER_SIZE) != LOG_HEADER_SIZE)
        return fail(kTextReadFailed);

    const LogHeader& h = slot.header;
    put_number_field(header + kHdrErrorStart, kRecordNumberWidth, h.error_start_record);
    put_number_field(header + kHdrErrorEnd, kRecordNumberWidth, h.error_end_record);
    put_number_field(header + kHdrNewRecords, kRecordNumberWidth, h.new_records);
    put_number_field(header + kHdrOverflow, kRecordNumberWidth, h.overflow_record);
    put_number_field(header + kHdrEmpty, kRecordNumberWidth, h.empty_record);

    if (rtx_file_seek(slot.stream, 0, SEEK_SET) != 0 ||
        rtx_file_write(slot.stream, header, LOG_HEADER_SIZE) != LOG_HEADER_SIZE)
        return fail(kTextWriteFailed);

    rtx_file_close(slot.stream);
    slot.stream = nullptr;
    return true;
}

bool text_to_field(std::uint8_t* field, std::uint16_t width, const char* text) {
    if (!field) return false;
    if (!text) text = "";
    bool whole = true;
    std::size_t p = 0;  // write position in the field
    std::size_t q = 0;  // read position in the text
    for (;;) {
        // The characters up to the next line feed or the end, found with one scan.
        std::size_t segment = std::strcspn(text + q, "\n");
        if (text[q + segment] == '\0') {
            // The rest of the text, cut to what the field still holds.
            std::size_t n = segment < width - p ? segment : width - p;
            std::memcpy(field + p, text + q, n);
            p += n;
            whole = whole && n == segment;
            break;
        }
        bool full = p + segment >= width;
        if (full) segment = width - p;
        std::memcpy(field + p, text + q, segment);
        p += segment;
        q += segment + 1;  // the line feed is consumed
        if (full) {
            whole = false;  // the line break, and whatever follows it, is left out
            break;
        }
        // A line break is stored only where at least three places of the field remain.
        if (p + 2 < width) {
            field[p] = kCR;
            field[p + 1] = kLF;
            p += 2;
        } else {
            whole = false;
        }
    }
    if (width > p) std::memset(field + p, ' ', width - p);
    return whole;
}

}  // namespace err
