// The running simulator: the executive environment around the error task.
#pragma once

#include <string>
#include <vector>

#include "script.h"

namespace errsim {

struct Options {
    std::string root = "./errsim-root";
    std::string script_name;  // base name used as the default file= of reports
    std::vector<std::string> modules;
    bool interactive = false;
    bool quiet = false;
    bool script_from_stdin = false;
    unsigned timeout_seconds = 20;  // 0: wait without limit
    bool timing = false;            // storm lines also give the elapsed time and the rate
};

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitRuntime = 1;  // the root, a module or the error task failed
constexpr int kExitScript = 2;   // a script or usage error; nothing was sent

// For --check: loads the modules given (none: nothing to do) and checks that every
// module-call of the script names a function of theirs, as a run does before it starts.
// Returns the exit status a run would give for them; writes nothing to disk.
int check_modules(const Options& options, const Script& script);

// Sets up the environment, starts the system, runs the script and shuts down. Returns the
// exit status. Messages for the user go to stderr; events to stdout.
int run_simulation(const Options& options, const Script& script);

}  // namespace errsim
