// The path of a log: what the boot file gives it, decided before any file is touched.
//
// The rule holds no state and prints nothing: the task's set-up (init_log_file) prints its
// texts from the decision, and the host's programs ask the same function where the task will
// keep its logs.
#pragma once

#include <cstddef>

namespace err {

// The default paths of the two logs under the root path, used when the boot file does not name
// them. Their file names are how a log pulled from an instrument is known as system or user.
inline constexpr const char* kSystemLogDefault = "\\LOG\\SYSERR.LOG";
inline constexpr const char* kUserLogDefault = "\\LOG\\USERERR.LOG";

// Where a log's path comes from.
enum class LogPathSource : unsigned char {
    configured,    // the key's value: its first word, a complete path
    default_name,  // the key is missing: the root path and the default name
    no_boot_file,  // the boot file cannot be read: the bare root path, a folder
    no_word,       // the key holds no word: the bare root path, a folder
};

struct LogPathDecision {
    LogPathSource source = LogPathSource::no_boot_file;
    // A log file path that fits its 260 bytes, and so does its backup name. Otherwise the task
    // switches the log off.
    bool usable = false;
};

// Decides the path of log_id (0 system, any other value user) from "TARNBOOT.INI", section
// "ErrorTask", key "SystemLogFile" or "UserLogFile". text (size bytes, at least 260; cut and
// terminated like snprintf) receives the path when it is usable, else what the task names in
// its refusal: the bare root path (no boot file, no word) or the path that does not fit.
LogPathDecision decide_log_path(int log_id, char* text, std::size_t size);

}  // namespace err
