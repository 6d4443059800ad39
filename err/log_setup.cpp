// Setting up the error logs at task start: the path from the boot configuration file or a
// default, the validation of an existing file, the backup of a corrupt one and the creation of
// a fresh one.
#include <cstdio>
#include <cstring>

#include "log.h"
#include "log_check.h"
#include "log_format.h"
#include "log_texts.h"
#include "rtx/rtx.h"
#include "task_state.h"

namespace err {

using namespace logfmt;

namespace {

constexpr const char* kBootIni = "TARNBOOT.INI";
constexpr const char* kSection = "ErrorTask";
constexpr const char* kSystemKey = "SystemLogFile";
constexpr const char* kUserKey = "UserLogFile";
constexpr const char* kSystemDefault = "\\LOG\\SYSERR.LOG";
constexpr const char* kUserDefault = "\\LOG\\USERERR.LOG";
constexpr const char* kBackupSuffix = ".BAK";
constexpr int kRootPathKind = 2;

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The first white-space-delimited word of text: *start and *length (0 when there is none).
void first_word(const char* text, const char** start, std::size_t* length) {
    const char* p = text ? text : "";
    while (*p && is_space(*p)) ++p;
    const char* e = p;
    while (*e && !is_space(*e)) ++e;
    *start = p;
    *length = static_cast<std::size_t>(e - p);
}

// Refuses a path that does not fit: prints it (cut for the console if it is very long).
void print_path_too_long(const char* first, std::size_t first_length, const char* second) {
    char text[1024];
    std::snprintf(text, sizeof text, "%.*s%s", static_cast<int>(first_length), first, second);
    boot_printf(kTextPathTooLong, text);
}

// Puts the first first_length characters of first, then second, into the log's path. A path
// that would not fit is refused with its text; the path buffer is then left as it was.
bool put_path(char* path, const char* first, std::size_t first_length, const char* second) {
    const std::size_t second_length = std::strlen(second);
    if (first_length + second_length >= kPathSize) {
        print_path_too_long(first, first_length, second);
        return false;
    }
    std::memmove(path, first, first_length);
    std::memcpy(path + first_length, second, second_length + 1);
    return true;
}

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

bool make_backup_name(const char* path, char* out, std::size_t size) {
    const char* dot = std::strchr(path, '.');
    std::size_t keep = dot ? static_cast<std::size_t>(dot - path) : std::strlen(path);
    std::size_t suffix = std::strlen(kBackupSuffix);
    if (keep + suffix + 1 > size) return false;
    std::memcpy(out, path, keep);
    std::memcpy(out + keep, kBackupSuffix, suffix + 1);
    return true;
}

bool init_log_file(int log_id) {
    LogSlot& slot = log_slot(log_id);
    const bool system_log = log_id == 0;

    char root[kPathSize] = {};
    rtx_get_root_path(kRootPathKind, root);
    root[kPathSize - 1] = 0;
    std::memcpy(slot.path, root, kPathSize);
    slot.header = LogHeader();
    close_stream(slot);

    // The path stays the bare root path (a folder) when the boot file cannot be read or the
    // key holds no word.
    bool bare_root = true;
    std::uint16_t ini = 0;
    if (ini_file_read(&ini, kBootIni) != 0) {
        boot_printf("%s", kTextBootIniUnreadable);
    } else {
        char* value = nullptr;
        bool fits = true;
        if (ini_file_get(ini, kSection, system_log ? kSystemKey : kUserKey, &value) == 0) {
            // A configured value is a complete path; only its first word counts.
            const char* word = nullptr;
            std::size_t length = 0;
            first_word(value, &word, &length);
            if (length > 0) {
                fits = put_path(slot.path, word, length, "");
                bare_root = false;
            }
        } else {
            if (system_log) boot_printf("%s", kTextSystemKeyMissing);
            fits = put_path(slot.path, root, std::strlen(root),
                            system_log ? kSystemDefault : kUserDefault);
            bare_root = false;
        }
        ini_file_free(ini);
        if (!fits) {
            slot.path[0] = 0;
            return false;
        }
    }

    if (bare_root) {
        // The bare root path names a folder, not a log file: opening it fails on the
        // instrument, and so does creating a file there. It is never opened, moved aside or
        // written here, whatever the host's file system would allow; the log is switched off
        // with the text that the failed creation prints.
        boot_printf(kTextOpenFailed, slot.path);
        slot.path[0] = 0;
        return false;
    }

    // A path whose backup name would not fit is refused before the file is touched, so a
    // corrupt file is never replaced without its backup being possible.
    char backup[kPathSize];
    if (!make_backup_name(slot.path, backup, sizeof backup)) {
        print_path_too_long(slot.path, std::strlen(slot.path), "");
        slot.path[0] = 0;
        return false;
    }

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
            print_path_too_long(slot.path, std::strlen(slot.path), "");
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
