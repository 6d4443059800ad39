// errtable: checks the error tables of firmware modules and of errsim scripts before they run.
//
// Exit status: 0 no findings, 1 findings, 2 a usage error, or a module or script that cannot
// be loaded.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "capture.h"
#include "command_line.h"
#include "output.h"
#include "rtx/rtx_host.h"
#include "rules.h"
#include "script.h"
#include "script_tables.h"

namespace {

constexpr int kExitClean = 0;
constexpr int kExitFindings = 1;
constexpr int kExitUsage = 2;

struct Options {
    std::vector<std::string> modules;
    std::string script;
    bool json = false;
    bool own = false;
    bool quiet = false;
};

int check(const Options& o) {
    if (o.modules.empty() && o.script.empty() && !o.own) {
        std::fprintf(stderr, "errtable: nothing to check (give --module, --script or --own)\n");
        return kExitUsage;
    }
    // The script is read and parsed before any module runs its load-time entries.
    errsim::Script script;
    if (!o.script.empty()) {
        std::string text;
        std::string error;
        if (!errsim::read_script_file(o.script, text, error)) {
            std::fprintf(stderr, "errtable: cannot read script %s: %s\n", o.script.c_str(),
                         error.c_str());
            return kExitUsage;
        }
        errsim::ParseResult parsed = errsim::parse_script(text);
        if (parsed.error) {
            std::fprintf(stderr, "errtable: %s line %d: %s\n", o.script.c_str(), parsed.error->line,
                         parsed.error->message.c_str());
            return kExitUsage;
        }
        script = std::move(parsed.script);
    }

    // The registry's complaints are findings here; the console stays quiet.
    rtx_host_console_echo(0);
    errtable::Capture capture;
    for (const std::string& path : o.modules) {
        std::string error;
        if (!capture.load_module(path, error)) {
            std::fprintf(stderr, "errtable: cannot load module %s: %s\n", path.c_str(),
                         error.c_str());
            return kExitUsage;
        }
    }
    // As in errsim: the script's tables register after the modules'.
    static errsim::ScriptTables script_tables;  // the registry keeps pointers into them
    script_tables.build(script);
    capture.register_script(o.script == "-" ? "stdin" : o.script, script_tables);

    const std::vector<errtable::Table> tables = capture.tables();
    const std::vector<errtable::Finding> findings = errtable::check_tables(tables, o.own);
    if (o.json) {
        std::fputs(errtable::findings_json(tables, findings).c_str(), stdout);
    } else {
        for (const auto& f : findings)
            std::printf("%s\n", errtable::finding_line(tables, f).c_str());
        if (!o.quiet) std::printf("%s\n", errtable::summary_line(tables, findings, o.own).c_str());
    }
    const bool faults = std::any_of(findings.begin(), findings.end(),
                                    [](const errtable::Finding& f) { return !f.note; });
    return faults ? kExitFindings : kExitClean;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "errtable: checks error tables before they run: those that firmware modules register "
        "when loaded and those of an errsim script's define lines.\n"
        "Exit status: 0 no findings, 1 findings, 2 usage error or a module or script that "
        "cannot be loaded."};
    app.require_subcommand(1);
    Options o;
    auto* check_cmd = app.add_subcommand("check", "Report what would surprise at run time");
    check_cmd
        ->add_option("--module", o.modules,
                     "Firmware module (shared library) to load; its load-time entries register "
                     "its tables. May be repeated")
        ->type_name("PATH")
        ->allow_extra_args(false);
    check_cmd->add_option("--script", o.script, "errsim script whose define lines to check")
        ->type_name("FILE|-");
    check_cmd->add_flag("--json", o.json, "Print one JSON object (schema in docs/errtable.md)");
    check_cmd->add_flag("--quiet", o.quiet,
                        "Leave out the summary line (tables, entries, findings)");
    check_cmd->add_flag("--own", o.own,
                        "Also apply the entry rules to the error module's own table");
    if (auto done = errtools::parse_command_line(app, "errtable", argc, argv, kExitUsage))
        return *done;
    return check(o);
}
