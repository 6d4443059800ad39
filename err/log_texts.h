// Console texts of the error logs, byte for byte. Printed with boot_printf.
#pragma once

namespace err {

// "%s": the log's path.
constexpr const char* kTextOpenFailed = "error_task:\n-----------\nFailed to open file %s\n";
// "%d": record number, "%s": path.
constexpr const char* kTextPositionFailed =
    "error_task:\n-----------\nFailed to position to record %d\nin log file %s\n";
constexpr const char* kTextReadFailed =
    "error_task:\n-----------\nFailed to read from log file %s\n";
// The write-failure text has an underline of 13 dashes and no line break after it.
constexpr const char* kTextWriteFailed =
    "error_task:\n-------------Failed to write to log file %s\n";
// "%s %s": path, backup name.
constexpr const char* kTextRenameFailed =
    "error_task (open_log_file):\n---------------------------\nFailed to rename file %s to %s\n";
constexpr const char* kTextBootIniUnreadable = "Error Task: Can't open boot.ini (registry) file\n";
constexpr const char* kTextSystemKeyMissing =
    "Error Task: SystemLogFile Setting in ErrorTask section not found, using defaults\n";
// A log path (configured, or root path and default name) that does not fit its 260 bytes, or
// whose backup name would not: the log is switched off. "%s": the refused path.
constexpr const char* kTextPathTooLong = "error_task:\n-----------\nLog file path too long: %s\n";
// An export whose archive file would be a log file or a log's backup is refused. "%s": the
// archive file name as requested.
constexpr const char* kTextExportOntoLog =
    "error_task:\n-----------\nExport refused: %s is an error log or its backup\n";

}  // namespace err
