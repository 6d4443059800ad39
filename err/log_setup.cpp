// Setting up the error logs at task start: the path that the boot configuration file gives
// (log_path.cpp), the validation of an existing file, the backup of a corrupt one and the
// creation of a fresh one.
#include <cstdio>
#include <cstring>

#include "log.h"
#include "log_check.h"
#include "log_format.h"
#include "log_path.h"
#include "log_texts.h"
#include "rtx/rtx.h"
#include "task_state.h"

namespace err {

using namespace logfmt;

namespace {

// A refused path is printed cut to 1023 characters.
constexpr std::size_t kRefusedPathSize = 1024;

// The walks take their records from the file as read once (load_log_records); a record that
// read did not reach prints the text that its own read would have printed.
const std::uint8_t* read_for_check(void* context, std::uint16_t n) {
    return loaded_log_record(*static_cast<const int*>(context), n);
}

void close_stream(LogSlot& slot) {
    if (slot.stream) rtx_file_close(slot.stream);
    slot.stream = nullptr;
}

}  // namespace

bool init_log_file(int log_id) {
    LogSlot& slot = log_slot(log_id);
    slot.header = LogHeader();
    close_stream(slot);

    char text[kRefusedPathSize];
    const LogPathDecision path = decide_log_path(log_id, text, sizeof text);
    if (path.source == LogPathSource::no_boot_file) boot_printf("%s", kTextBootIniUnreadable);
    if (path.source == LogPathSource::default_name && log_id == 0)
        boot_printf("%s", kTextSystemKeyMissing);
    if (!path.usable) {
        // The bare root path is never opened, moved aside or written: the log is switched off
        // with the text that the failed creation of a file there prints. A path that does not
        // fit is printed as refused.
        const bool bare_root =
            path.source == LogPathSource::no_boot_file || path.source == LogPathSource::no_word;
        boot_printf(bare_root ? kTextOpenFailed : kTextPathTooLong, text);
        slot.path[0] = 0;
        return false;
    }
    std::memcpy(slot.path, text, std::strlen(text) + 1);

    rtx_file* probe = rtx_file_open(slot.path, "rb");
    if (probe) {
        rtx_file_close(probe);
        if (open_log_file(log_id)) return true;
    }
    if (!create_log_file(log_id)) {
        slot.path[0] = 0;
        return false;
    }
    return true;
}

bool open_log_file(int log_id) {
    LogSlot& slot = log_slot(log_id);
    if (slot.path[0] == 0) return false;

    std::uint8_t header[LOG_HEADER_SIZE] = {};
    bool corrupt = true;
    // If the read-write open fails right after the read-only open succeeded, the file cannot
    // be used as a log: it is treated like a corrupt file (moved aside, then recreated), and
    // no stream is used.
    if (open_log_stream(log_id)) {
        std::size_t got = 0;
        if (rtx_file_seek(slot.stream, 0, SEEK_SET) == 0)
            got = rtx_file_read(slot.stream, header, LOG_HEADER_SIZE);
        std::int64_t length = -1;
        if (got == LOG_HEADER_SIZE && rtx_file_seek(slot.stream, 0, SEEK_END) == 0)
            length = rtx_file_tell(slot.stream);
        LogCheckResult result = check_log_header(header, got, length);
        if (result.ok()) {
            // Both passes of both walks work on the records read here with one call.
            load_log_records(log_id);
            int id = log_id;
            result = check_log_chains(header, read_for_check, &id);
        }
        corrupt = !result.ok();
        close_stream(slot);
    }

    if (corrupt) {
        char backup[kPathSize];
        if (!make_backup_name(slot.path, backup, sizeof backup)) {
            boot_printf(kTextPathTooLong, slot.path);
            return false;
        }
        // Only the last corrupt file survives as the backup.
        rtx_file_remove(backup);
        if (rtx_file_rename(slot.path, backup) != 0)
            boot_printf(kTextRenameFailed, slot.path, backup);
        return false;
    }

    slot.header.error_start_record = header_link(header, kHdrErrorStart);
    slot.header.error_end_record = header_link(header, kHdrErrorEnd);
    slot.header.new_records = header_link(header, kHdrNewRecords);
    slot.header.overflow_record = header_link(header, kHdrOverflow);
    slot.header.empty_record = header_link(header, kHdrEmpty);
    return true;
}

bool create_log_file(int log_id) {
    LogSlot& slot = log_slot(log_id);
    rtx_file* file = rtx_file_open(slot.path, "wb");
    if (!file) {
        boot_printf(kTextOpenFailed, slot.path);
        return false;
    }

    std::uint8_t header[LOG_HEADER_SIZE];
    build_new_header(header, 1);
    slot.header = LogHeader();
    slot.header.empty_record = 1;

    auto fail_write = [&]() {
        boot_printf(kTextWriteFailed, slot.path);
        rtx_file_close(file);
        return false;
    };

    if (rtx_file_write(file, header, LOG_HEADER_SIZE) != LOG_HEADER_SIZE) return fail_write();

    // The free chain of a new file runs 1, 2, ..., 25.
    std::uint8_t record[LOG_RECORD_SIZE];
    build_new_record(record);
    for (std::uint16_t n = 1; n <= LOG_RECORD_COUNT; ++n) {
        put_number_field(record + kRecNr, kRecordNumberWidth, n);
        put_number_field(record + kRecPrevious, kRecordNumberWidth,
                         n < LOG_RECORD_COUNT ? static_cast<std::uint16_t>(n + 1) : 0);
        if (rtx_file_write(file, record, LOG_RECORD_SIZE) != LOG_RECORD_SIZE) return fail_write();
    }

    // The length field holds the position after the last record, the file's real length.
    long position = rtx_file_tell(file);
    if (position < 0) return fail_write();
    char digits[24];
    int w = static_cast<int>(kLengthWidth);
    std::snprintf(digits, sizeof digits, "%.*ld", w, position);  // zero-padded to 5 digits
    std::memcpy(header + kHdrLength, digits, kLengthWidth);
    if (rtx_file_seek(file, 0, SEEK_SET) != 0) return fail_write();
    if (rtx_file_write(file, header, LOG_HEADER_SIZE) != LOG_HEADER_SIZE) return fail_write();

    rtx_file_close(file);
    return true;
}

}  // namespace err
