// For the programs that hold the module themselves (they link its objects, err_core, rather
// than load liberr.so): the restart that a World needs for every world but a process's first.
// Header-only, so that the host system library links no module code of its own.
#pragma once

#include "library_entry.h"
#include "task_state.h"

namespace host_system {

// The module as after a fresh load: the task state back to its values at load and
// init_function registered with the (reset) executive again, under its text.
inline void restart_held_module() {
    err::reset_task_state();
    err::register_with_executive();
}

}  // namespace host_system
