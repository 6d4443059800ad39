// The error task's state, in one place.
//
// Everything here is written only by the error task (and, before the task starts, by the
// start-up code that runs in it); the functions of the report path, the boxes, the API
// notifications and the log files read and change it through task_state().
#pragma once

#include <cstdint>

#include "err/err_table.h"
#include "rtx/rtx.h"

namespace err {

constexpr std::size_t kPathSize = 260;    // log paths, root path and backup name, NUL included
constexpr std::size_t kTextBufSize = 81;  // 80 characters of error text and the NUL

// In-memory copy of a log's five header links, written back by close_log.
struct LogHeader {
    std::uint16_t error_start_record = 0;  // newest error, 0 when empty
    std::uint16_t error_end_record = 0;    // oldest error, 0 when empty
    std::uint16_t new_records = 0;         // errors archived since last cleared
    std::uint16_t overflow_record = 0;     // 0 when there is none
    std::uint16_t empty_record = 0;        // head of the free chain, 0 when none is free
};

// A definition the report path found for an error number (null: no registered table defines
// it), and the registry's count of changes at the time (see registry_generation).
struct FoundDefinition {
    bool valid = false;
    std::uint16_t error_nr = 0;
    std::uint32_t generation = 0;
    ErrTableEntry* definition = nullptr;
};
// Error numbers kept by the report path: a stream of reports names a few numbers again and
// again, and a registry walk passes every entry of the tables before the one that holds it.
constexpr std::size_t kFoundDefinitions = 16;

// One log: its path (empty = switched off), its header and its stream while an operation runs.
struct LogSlot {
    char path[kPathSize] = {};
    LogHeader header;
    rtx_file* stream = nullptr;
};

struct TaskState {
    // Mailboxes looked up at task start.
    std::uint16_t error_mbx = 0;
    std::uint16_t error_qmbx = 0;
    std::uint16_t gui_mbx = 0;
    std::uint16_t iecstate_mbx = 0;
    // API_MBX, looked up by the notifications on first use (0: not found yet, tried again).
    std::uint16_t api_mbx = 0;

    // Switches (commands 600 to 619).
    bool boxes_enabled = true;
    bool system_errors_enabled = true;
    bool ui_ready = false;
    bool variant_b = false;
    std::uint16_t archive_all = 0;
    std::uint16_t box_sequence = 0;

    // Working texts of the report being handled.
    char text_buf_a[kTextBufSize] = {};
    char text_buf_b[kTextBufSize] = {};

    // Action parameters taken from the info text for actions 16, 17 and 18; action 10 sends
    // what the last of those left behind, 0 before the first.
    std::uint16_t action_param1 = 0;
    std::uint16_t action_param2 = 0;

    // Index 0: system log, index 1: user log.
    LogSlot logs[2];

    // The report path's lookups, by error number modulo kFoundDefinitions.
    FoundDefinition found[kFoundDefinitions];
};

// Initialised at load (constant initialisation), so that the task's parts reach it with one
// address and no call.
extern constinit TaskState g_task_state;
inline TaskState& task_state() {
    return g_task_state;
}

// The slot of log_id: 0 is the system log, any other value the user log.
inline LogSlot& log_slot(int log_id) {
    return task_state().logs[log_id == 0 ? 0 : 1];
}

// Name of a log in console texts: "SYSTEM" or "USER".
inline const char* log_name(int log_id) {
    return log_id == 0 ? "SYSTEM" : "USER";
}

// Back to the values at load; for tests that drive the task's parts without the task.
void reset_task_state();

}  // namespace err
