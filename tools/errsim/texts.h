// errsim's own texts, byte for byte, by area: the set-up (main.cpp, setup.cpp), the script
// runner (runner.cpp) and the simulated partner tasks (partners.cpp). The event lines of the
// partners and of the runner's answers are formatted in events.cpp; docs/errsim.md lists them
// all.
#pragma once

namespace errsim::text {

// ---- Set-up (stderr, except where it says stdout) ----
// "%s %s": the script's path, the reason.
inline constexpr const char* kCannotReadScript = "errsim: cannot read script %s: %s\n";
// "%d %s": script line, the error or the failure.
inline constexpr const char* kScriptLine = "errsim: script line %d: %s\n";
inline constexpr const char* kNeedsTerminal =
    "errsim: --interactive needs a terminal (/dev/tty) when the script comes from stdin\n";
inline constexpr const char* kCannotMakeRoot = "errsim: cannot create the root folder: %s\n";
// "%s %s": host path of the boot file, the reason.
inline constexpr const char* kCannotWriteBootFile = "errsim: cannot write %s: %s\n";
// stdout; followed by the host path of the boot file.
inline constexpr const char* kWroteBootFile = "errsim: wrote default ";
// stdout: "%s %s %s": SYSTEM or USER, the log's path, the reason.
inline constexpr const char* kCorruptLog =
    "errsim: the %s log %s is corrupt (%s); the error task moves it to its .BAK name and starts "
    "a new log";
inline constexpr const char* kCannotLoadModule = "errsim: cannot load module %s: %s\n";
inline constexpr const char* kNoModuleFunction =
    "errsim: script line %d: module-call: no function '%s' in the loaded modules\n";
inline constexpr const char* kCannotMakeMailboxes = "errsim: cannot create the mailboxes\n";
inline constexpr const char* kTaskDidNotStart = "errsim: the error task did not start: %s\n";

// The boot file that errsim writes into a root that has none.
inline constexpr const char* kDefaultBootFile =
    "; Boot configuration written by errsim.\r\n"
    "[ErrorTask]\r\n"
    "SystemLogFile=\\LOG\\SYSERR.LOG\r\n"
    "UserLogFile=\\LOG\\USERERR.LOG\r\n"
    "\r\n"
    "[Eventlog]\r\n"
    "; 1: developer diagnostics (VX_ERROR) are reported as error 2.\r\n"
    "LogVXErrorRelease=1\r\n";

// ---- The script runner: failures (printed with kScriptLine) ----
inline constexpr const char* kCannotSend = "could not send to ERROR_MBX";
inline constexpr const char* kReportNotSent = "EReportError could not send the report";
inline constexpr const char* kWaitFailed = "waiting for the error task failed (status %u)";
inline constexpr const char* kTaskSuspended = "the error task is suspended (see its console lines)";
inline constexpr const char* kNoAnswerWithin = "no answer from the error task within %u s";
inline constexpr const char* kNoFunction = "module-call: no function '%s'";
// The runner's lines on stdout for `show`: "%s": "log SYSTEM" or "log USER".
inline constexpr const char* kLogUnreadable = "%s: cannot be read: %s";
inline constexpr const char* kLogSwitchedOff = "%s: switched off: %s";
// The runner's line on stdout after a `storm`, and what --timing adds to it.
inline constexpr const char* kStorm = "storm id=%u sent=%u dropped=%u";
inline constexpr const char* kStormTiming = " seconds=%.3f reports-per-second=%.0f";

// ---- The simulated partner tasks (stderr) ----
inline constexpr const char* kConsolePrefix = "console: ";  // stdout, before each console line
inline constexpr const char* kNoAnswerMessage =
    "errsim: box seq=%u: button %s has no answer message\n";
inline constexpr const char* kAnswerNotSent = "errsim: box seq=%u: the answer could not be sent\n";
inline constexpr const char* kNoSuchButtonInBox = "errsim: box seq=%u has no button %s; chose %s\n";
// The box drawn for --interactive, and its prompt.
inline constexpr const char* kBoxTop = "\n+--- message box %u %s\n";
inline constexpr const char* kBoxTitle = "| %s\n|\n";
inline constexpr const char* kBoxLine = "| %s\n";
inline constexpr const char* kBoxGap = "|\n";
inline constexpr const char* kBoxButton = "|   %zu) %s\n";
inline constexpr const char* kBoxBottom = "+%s\n";
inline constexpr const char* kPrompt = "choose %s or a button name (Enter: %s): ";
inline constexpr const char* kNoSuchButton = "no such button: %s\n";

}  // namespace errsim::text
