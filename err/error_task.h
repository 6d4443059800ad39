// The error task: start-up, main loop and command dispatch.
#pragma once

#include <cstddef>
#include <cstdint>

#include "err/err_api.h"
#include "rtx/rtx.h"

namespace err {

// The task body handed to the executive; never returns. Exported, like the library's other
// entry points (DllMain, init_function).
extern "C" ERR_API void error_task(void);

// Prints the start-up failure texts with status->status and suspends the calling task;
// returns if the task is ever resumed.
void startup_failure(const rtx_status* status);

// Handles every command block of one received message (segment bytes message[0, size)),
// then nothing else: the caller gives the default response and frees the segment.
void dispatch_message(const std::uint8_t* message, std::size_t size);

}  // namespace err
