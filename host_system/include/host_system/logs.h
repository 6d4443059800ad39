// The error logs as the error task sets them up at its start, known before it starts: the path
// that the boot file gives each log, by the module's own rule, and what the task will find
// there, by the module's own test.
//
// The functions call the module's log-path rule and log check (err_log_path, err_log_check);
// the program links them, or the whole module (err_core).
#pragma once

#include <string>

namespace host_system {

struct LogPlan {
    bool on = false;         // false: the task switches the log off (no usable path)
    std::string exec_path;   // the executive path the task uses (empty when off)
    std::string host_path;   // where that is below the root folder (empty when off or none)
    std::string off_reason;  // why the log is off: "no boot file", "no file named",
                             // "path too long"
};

// The plan of log_id (0 system, 1 user) from the boot file, as the executive reads it now.
LogPlan plan_log(int log_id);

struct LogVerdict {
    enum State { missing, valid, corrupt } state = missing;  // missing: no file to read
    std::string reason;  // corrupt: what breaks, as errlog names it
};

// What the task will find at a log's place: nothing (missing, or the log is off), a valid log
// it keeps, or a corrupt one it moves to its backup name and replaces.
LogVerdict judge_log(const LogPlan& plan);

}  // namespace host_system
