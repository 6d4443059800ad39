// The built-in demo scenario of errsim.
#pragma once

namespace errsim {

// A script that walks every path a user meets: user and system errors, "$"-separated
// parameters, every kind of message box, show-once errors re-armed by an export, variant B
// with status texts, API notifications, a log running full, erasing and exporting.
extern const char* const kDemoScript;

}  // namespace errsim
