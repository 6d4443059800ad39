// Erasing errors from a log: selected records, or all of them.
//
// An erased record is freed in place: record_state "E", error_code 00000, error_text and
// component blank, next_record 000, and it is pushed onto the front of the free chain
// (previous_record = the old empty_record, empty_record = the record). record_nr, the date,
// the time, source_file and source_line keep what they held. Failures only turn the result
// false; the remaining work goes on, and close_log writes the header values as changed so far.
#include <cstring>

#include "err/protocol.h"
#include "log.h"
#include "log_format.h"
#include "rtx/rtx.h"
#include "task_state.h"
#include "wire.h"

namespace err {

using namespace logfmt;

namespace {

void push_free(LogHeader& h, std::uint8_t* record, std::uint16_t n) {
    put_text_field(record + kRecState, kStateWidth, "E");
    put_number_field(record + kRecPrevious, kRecordNumberWidth, h.empty_record);
    h.empty_record = n;
}

// Frees a record that held an error (or the overflow record under erase selected).
void free_record(LogHeader& h, std::uint8_t* record, std::uint16_t n) {
    put_number_field(record + kRecCode, kCodeWidth, 0);
    put_text_field(record + kRecText, kTextWidth, "");
    put_text_field(record + kRecComponent, kComponentWidth, "");
    put_number_field(record + kRecNext, kRecordNumberWidth, 0);
    push_free(h, record, n);
}

}  // namespace

bool erase_selected_errors(int log_id, const std::uint8_t* block, std::size_t block_length) {
    if (!open_log_stream(log_id)) return false;
    bool result = true;
    LogHeader& h = log_slot(log_id).header;

    // No more numbers are read than the block holds; a block too short for its count gives
    // an empty list.
    ByteView view(block, block_length);
    const std::uint16_t count = view.u16_or(ERASE_COUNT, 0);

    std::uint8_t record[LOG_RECORD_SIZE];
    std::uint8_t neighbour[LOG_RECORD_SIZE];
    for (std::uint16_t i = 0; i < count; ++i) {
        std::uint16_t n = 0;
        if (!view.u16(ERASE_NUMBERS + 2u * i, n)) break;

        if (!read_log_record(log_id, record, n)) {
            result = false;  // also for numbers 0 and above 25
            continue;
        }
        if (record[kRecState] != kStateUsed) continue;  // already free: nothing to do

        if (n == h.overflow_record) {
            h.overflow_record = 0;  // the error chain is not touched
        } else {
            const std::uint16_t p = previous_of(record);
            const std::uint16_t x = next_of(record);
            if (p == 0) {
                h.error_end_record = x;
            } else if (read_log_record(log_id, neighbour, p)) {
                put_number_field(neighbour + kRecNext, kRecordNumberWidth, x);
                if (!write_log_record(log_id, neighbour)) result = false;
            } else {
                result = false;
            }
            if (x == 0) {
                h.error_start_record = p;
            } else if (read_log_record(log_id, neighbour, x)) {
                put_number_field(neighbour + kRecPrevious, kRecordNumberWidth, p);
                if (!write_log_record(log_id, neighbour)) result = false;
            } else {
                result = false;
            }
        }

        free_record(h, record, n);
        if (!write_log_record(log_id, record)) result = false;
    }
    // new_records is not changed by erasing selected errors.
    if (!close_log(log_id)) result = false;
    return result;
}

bool erase_all_errors(int log_id) {
    if (!open_log_stream(log_id)) return false;
    bool result = true;
    LogHeader& h = log_slot(log_id).header;

    // From the newest towards the older errors; each freed record goes on the front of the
    // free chain, so afterwards the free chain runs from the oldest former error to the newest,
    // then the records that were free before. The walk visits at most 25 records, so a chain
    // that loops in a file damaged while running cannot hold the task.
    std::uint8_t record[LOG_RECORD_SIZE];
    std::uint16_t n = h.error_start_record;
    for (std::size_t steps = 0; n != 0; ++steps) {
        if (steps == LOG_RECORD_COUNT || !read_log_record(log_id, record, n)) {
            result = false;
            break;
        }
        const std::uint16_t older = previous_of(record);
        free_record(h, record, n);
        if (!write_log_record(log_id, record)) result = false;
        n = older;
    }

    h.error_start_record = 0;
    h.error_end_record = 0;
    h.new_records = 0;

    if (h.overflow_record != 0) {
        if (!read_log_record(log_id, record, h.overflow_record)) {
            result = false;  // overflow_record stays
        } else {
            // The overflow record keeps its code, its text, its component and next_record.
            push_free(h, record, h.overflow_record);
            if (!write_log_record(log_id, record)) result = false;
            h.overflow_record = 0;
        }
    }

    if (!close_log(log_id)) result = false;
    return result;
}

}  // namespace err
