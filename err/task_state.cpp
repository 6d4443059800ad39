#include "task_state.h"

namespace err {

namespace {
TaskState g_state;
}

TaskState& task_state() { return g_state; }

void reset_task_state() { g_state = TaskState(); }

}  // namespace err
