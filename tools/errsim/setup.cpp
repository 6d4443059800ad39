// The set-up of errsim's run: the root folder and its boot file, the verdicts on the logs that
// an earlier run left, the firmware modules and the script's tables, the executive world with
// its partner tasks, the system start, the script, and the orderly end.
//
// Ordering. Every line on stdout is printed in the order in which the error task caused it:
//  - the partner tasks serve one mailbox (partners.h), so their events come in the order in
//    which the error task sent them;
//  - a console text of the error task is printed only after the partner tasks have handled
//    everything sent before it (World::flush_partners), and the error task waits for that
//    inside its boot_printf;
//  - after each script command the runner waits until the error task has handled it (its
//    answer, or the default response to an empty message of the runner's), then for the
//    partner tasks the same way, before the next command is sent (runner.h).
#include <dlfcn.h>

#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "err/err.h"
#include "host_system/logs.h"
#include "host_system/world.h"
#include "output.h"
#include "partners.h"
#include "rtx/rtx_host.h"
#include "runner.h"
#include "script_tables.h"
#include "sim.h"
#include "texts.h"

namespace errsim {

namespace {

// ---- Console --------------------------------------------------------------------------------

struct ConsoleContext {
    Output* out;
    host_system::World* world;  // null until the world exists
};

void console_sink(const char* text, std::size_t length, void* context) {
    auto* c = static_cast<ConsoleContext*>(context);
    // Whatever the error task sent to the partner tasks before it printed comes first.
    if (c->world) c->world->flush_partners();
    c->out->console(text, length);
}

// ---- Modules --------------------------------------------------------------------------------

// Loads the firmware modules (their load-time entries register their tables) and checks that
// every module-call of the script names a function of theirs. Returns the exit status on
// failure, 0 otherwise.
int load_modules(const Options& options, const Script& script, std::vector<void*>& modules) {
    for (const std::string& path : options.modules) {
        std::string p = path.find('/') == std::string::npos ? "./" + path : path;
        void* h = dlopen(p.c_str(), RTLD_NOW | RTLD_GLOBAL);
        if (!h) {
            std::fprintf(stderr, text::kCannotLoadModule, path.c_str(), dlerror());
            return kExitRuntime;
        }
        modules.push_back(h);
    }
    for (const Command& c : script.commands) {
        if (c.op != Op::ModuleCall) continue;
        bool found = false;
        for (void* h : modules) found = found || dlsym(h, c.text.c_str()) != nullptr;
        if (!found) {
            std::fprintf(stderr, text::kNoModuleFunction, c.line, script_excerpt(c.text).c_str());
            return kExitScript;
        }
    }
    return kExitOk;
}

}  // namespace

int check_modules(const Options& options, const Script& script) {
    if (options.modules.empty()) return kExitOk;
    rtx_host_console_echo(0);  // what the modules' load-time entries print is no finding here
    std::vector<void*> modules;
    return load_modules(options, script, modules);
}

int run_simulation(const Options& options, const Script& script) {
    Output out(options.quiet);
    Partners partners(out, options);
    ConsoleContext console{&out, nullptr};
    std::optional<host_system::World> world;
    rtx_host_console_echo(0);
    rtx_host_set_console_sink(console_sink, &console);

    auto finish = [&](int status) {
        out.flush_console();
        if (world) {
            world->shutdown();
        } else {
            rtx_host_shutdown();
        }
        partners.close_terminal();
        rtx_host_set_console_sink(nullptr, nullptr);
        return status;
    };

    if (!partners.open_terminal()) {
        std::fprintf(stderr, "%s", text::kNeedsTerminal);
        return finish(kExitScript);
    }

    // The modules first: what was asked for is checked before anything is written to disk.
    std::vector<void*> modules;
    if (const int status = load_modules(options, script, modules); status != kExitOk)
        return finish(status);

    // The root folder, its LOG folder and the boot file.
    std::string error;
    const std::optional<host_system::Root> root = host_system::Root::at(options.root, error);
    if (!root) {
        std::fprintf(stderr, text::kCannotMakeRoot, error.c_str());
        return finish(kExitRuntime);
    }
    root->enter();
    if (!root->has_file_any_case(host_system::kBootFileName)) {
        const std::string boot_file = root->host_path(host_system::kBootFileName);
        if (!root->write(host_system::kBootFileName, text::kDefaultBootFile, &error)) {
            std::fprintf(stderr, text::kCannotWriteBootFile, boot_file.c_str(), error.c_str());
            return finish(kExitRuntime);
        }
        out.line(text::kWroteBootFile + boot_file);
    }

    // Logs left by an earlier run: the error task validates them at its start; say ahead of
    // it which ones it will replace.
    for (int log_id : {0, 1}) {
        const host_system::LogPlan plan = host_system::plan_log(log_id);
        const host_system::LogVerdict verdict = host_system::judge_log(plan);
        if (verdict.state != host_system::LogVerdict::corrupt) continue;
        char line[1024];
        std::snprintf(line, sizeof line, text::kCorruptLog, log_id == 0 ? "SYSTEM" : "USER",
                      plan.exec_path.c_str(), verdict.reason.c_str());
        out.line(line);
    }

    static ScriptTables tables;  // alive until the process ends
    tables.build(script);
    tables.register_all();

    // The executive world: mailboxes and partner tasks, before the system starts.
    world.emplace(*root, host_system::WorldOptions{.partners = host_system::PartnerLayout::shared,
                                                   .behaviour = &partners});
    if (!world->ready()) {
        std::fprintf(stderr, "%s", text::kCannotMakeMailboxes);
        return finish(kExitRuntime);
    }
    partners.set_mailboxes({world->error_mbx(), world->error_qmbx()});
    console.world = &*world;
    world->start();

    Runner runner(out, *world, partners, options, modules);
    if (!runner.sync(0)) {
        std::fprintf(stderr, text::kTaskDidNotStart, runner.failure().c_str());
        return finish(kExitRuntime);
    }
    for (const Command& c : script.commands) {
        if (!runner.run(c)) {
            std::fprintf(stderr, text::kScriptLine, runner.failure_line(),
                         runner.failure().c_str());
            return finish(kExitRuntime);
        }
    }
    return finish(kExitOk);
}

}  // namespace errsim
