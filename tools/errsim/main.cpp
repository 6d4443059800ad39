// errsim: runs the error module with its error task in a simulated executive environment,
// driven by a script, and prints one event a line.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "command_line.h"
#include "demo.h"
#include "script.h"
#include "sim.h"
#include "texts.h"

namespace {

std::string base_name(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
    errsim::Options options;
    std::string script_path;
    bool check_only = false;
    bool print_demo = false;

    CLI::App app{
        "errsim: runs the error module and its error task in a simulated executive, driven by "
        "a script (default: the built-in demo), and prints one event a line on stdout."};
    app.add_option("--root", options.root,
                   "Root folder of the executive; created with its LOG folder (its parent "
                   "must exist), and given a default TARNBOOT.INI when it has none")
        ->capture_default_str()
        ->type_name("DIR");
    app.add_option("--script", script_path, "Script file, or - for stdin (default: the demo)")
        ->type_name("FILE|-");
    app.add_option("--module", options.modules,
                   "Firmware module (shared library) to load before the system starts; "
                   "its load-time entry registers its error table. May be repeated")
        ->type_name("PATH")
        ->allow_extra_args(false);
    app.add_flag("--interactive", options.interactive,
                 "Show each message box with buttons in the terminal and ask for the button");
    app.add_flag("--quiet", options.quiet, "Leave out the console: lines");
    app.add_option("--timeout", options.timeout_seconds,
                   "Seconds to wait for the error task to handle one command (0: no limit)")
        ->capture_default_str()
        ->type_name("SECONDS");
    app.add_flag("--timing", options.timing,
                 "storm lines also give the elapsed time and the reports per second");
    app.add_flag("--check", check_only,
                 "Only check the script (with --module: also its module-call names against the "
                 "modules), writing nothing; exit 0 when it is valid");
    app.add_flag("--print-demo", print_demo, "Print the built-in demo script and exit");

    if (auto done = errtools::parse_command_line(app, "errsim", argc, argv, errsim::kExitScript))
        return *done;

    if (print_demo) {
        std::fputs(errsim::kDemoScript, stdout);
        return errsim::kExitOk;
    }

    std::string text;
    if (script_path.empty()) {
        text = errsim::kDemoScript;
        options.script_name = "demo";
    } else {
        std::string error;
        if (!errsim::read_script_file(script_path, text, error)) {
            std::fprintf(stderr, errsim::text::kCannotReadScript, script_path.c_str(),
                         error.c_str());
            return errsim::kExitScript;
        }
        options.script_from_stdin = script_path == "-";
        options.script_name = script_path == "-" ? "stdin" : base_name(script_path);
    }

    errsim::ParseResult parsed = errsim::parse_script(text);
    if (parsed.error) {
        std::fprintf(stderr, errsim::text::kScriptLine, parsed.error->line,
                     parsed.error->message.c_str());
        return errsim::kExitScript;
    }
    if (check_only) return errsim::check_modules(options, parsed.script);

    return errsim::run_simulation(options, parsed.script);
}
