// Library entry and creation of the error task.
#pragma once

#include <cstdint>

#include "err/err_api.h"

// Entry function of the library: reason 1 (attach) registers init_function with the
// executive and the own error table under module number 1; other reasons do nothing.
// Returns 1 whatever the reason. Called from the library's load-time constructor; exported
// for the loader of the instrument.
extern "C" ERR_API int DllMain(void* instance, std::uint32_t reason, void* reserved);

namespace err {

constexpr std::uint32_t kReasonAttach = 1;

// Registers init_function with the executive under its text ("ERR.DLL init function"), as the
// library's load does; returns what register_init_function returns. A host program that holds
// the module and starts a fresh executive calls it again.
int register_with_executive();

// Creates the error task under "\nERROR_TASK"; prints "Error creating Error Task\n" and
// returns false when the executive refuses.
bool create_error_task();

}  // namespace err
