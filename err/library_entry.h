// Library entry and creation of the error task.
#pragma once

#include <cstdint>

// Entry function of the library: reason 1 (attach) registers init_function with the
// executive and the own error table under module number 1; other reasons do nothing.
// Returns 1 whatever the reason. Called from the library's load-time constructor.
extern "C" int DllMain(void* instance, std::uint32_t reason, void* reserved);

namespace err {

constexpr std::uint32_t kReasonAttach = 1;

// Creates the error task under "\nERROR_TASK"; prints "Error creating Error Task\n" and
// returns false when the executive refuses.
bool create_error_task();

}  // namespace err
