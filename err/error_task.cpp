// Placeholder until the error task lands: keeps the library linkable.
#include "error_task.h"

namespace err {

extern "C" void error_task(void) {}
void startup_failure(const rtx_status*) {}
void dispatch_message(const std::uint8_t*, std::size_t) {}

}  // namespace err
