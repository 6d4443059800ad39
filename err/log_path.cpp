// The path of a log from the boot configuration file, and the name of its backup.
#include "log_path.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "log.h"
#include "rtx/rtx.h"
#include "task_state.h"

namespace err {

namespace {

constexpr const char* kBootIni = "TARNBOOT.INI";
constexpr const char* kSection = "ErrorTask";
constexpr const char* kSystemKey = "SystemLogFile";
constexpr const char* kUserKey = "UserLogFile";
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

// The first first_length characters of first, then second, into text; the whole length.
std::size_t put_text(char* text, std::size_t size, const char* first, std::size_t first_length,
                     const char* second) {
    const int n =
        std::snprintf(text, size, "%.*s%s", static_cast<int>(first_length), first, second);
    return n < 0 ? size : static_cast<std::size_t>(n);
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

LogPathDecision decide_log_path(int log_id, char* text, std::size_t size) {
    const bool system_log = log_id == 0;
    char root[kPathSize] = {};
    rtx_get_root_path(kRootPathKind, root);
    root[kPathSize - 1] = 0;
    const std::size_t root_length = std::strlen(root);

    LogPathDecision decision;
    std::size_t length = 0;
    std::uint16_t ini = 0;
    if (ini_file_read(&ini, kBootIni) != 0) {
        decision.source = LogPathSource::no_boot_file;
        length = put_text(text, size, root, root_length, "");
    } else {
        char* value = nullptr;
        if (ini_file_get(ini, kSection, system_log ? kSystemKey : kUserKey, &value) == 0) {
            // A configured value is a complete path; only its first word counts.
            const char* word = nullptr;
            std::size_t word_length = 0;
            first_word(value, &word, &word_length);
            decision.source = word_length > 0 ? LogPathSource::configured : LogPathSource::no_word;
            length = word_length > 0 ? put_text(text, size, word, word_length, "")
                                     : put_text(text, size, root, root_length, "");
        } else {
            decision.source = LogPathSource::default_name;
            length = put_text(text, size, root, root_length,
                              system_log ? kSystemLogDefault : kUserLogDefault);
        }
        ini_file_free(ini);
    }
    // The bare root path names a folder, not a log file: the log is off whatever the host's
    // file system would allow. A path whose backup name would not fit is refused before the
    // file is touched, so a corrupt file is never replaced without its backup being possible.
    if (decision.source == LogPathSource::no_boot_file || decision.source == LogPathSource::no_word)
        return decision;
    char backup[kPathSize];
    decision.usable = length < kPathSize && make_backup_name(text, backup, sizeof backup);
    return decision;
}

}  // namespace err
