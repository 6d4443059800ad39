// The power cut of the host executive (rtx_host_power_cut, rtx_host_power_trace) as a test
// control of the host's programs, set from the environment:
//   ERR_POWER_CUT=N      the process ends before its N-th file-changing call
//   ERR_POWER_CUT=N:K    ... at its N-th file-changing call, after the first K bytes of a write
//   ERR_POWER_TRACE=FILE every file-changing call is traced to FILE
// scripts/power-cut drives errsim with them.
#pragma once

namespace host_system {

// Arms what the environment asks for, once in a process (later calls do nothing). A value that
// cannot be read is a note on stderr and arms nothing.
void arm_power_cut_from_environment();

}  // namespace host_system
