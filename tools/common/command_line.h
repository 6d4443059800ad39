// The command line every ERR tool shares: --help, --version and one-line refusals.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

namespace errtools {

// "TOOL (ERR) VERSION": what --version prints.
std::string version_line(const char* tool);

// Adds --version to app (set up by the caller with its options and subcommands) and parses
// argv. Returns the tool's exit status when it is done: 0 after --help or --version (printed on
// stdout); usage_status after an argument error, which is one line on stderr starting with
// "TOOL: " (an argument that is no subcommand of an app that has subcommands is named as an
// unknown subcommand). Returns nothing when the tool goes on with the parsed options.
std::optional<int> parse_command_line(CLI::App& app, const char* tool, int argc,
                                      const char* const* argv, int usage_status);

}  // namespace errtools
