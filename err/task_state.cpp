#include "task_state.h"

namespace err {

constinit TaskState g_task_state;

void reset_task_state() {
    g_task_state = TaskState();
}

}  // namespace err
