#include "command_line.h"

#include <cstdio>
#include <cstring>

#include "err_version.h"

namespace errtools {

namespace {

// The names of app's subcommands, comma-separated; empty when it has none.
std::string subcommand_names(CLI::App& app) {
    std::string names;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        names += (names.empty() ? "" : ", ") + sub->get_name();
    return names;
}

// The error's text on one line.
std::string one_line(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace

std::string version_line(const char* tool) {
    return std::string(tool) + " (ERR) " + ERR_VERSION;
}

std::optional<int> parse_command_line(CLI::App& app, const char* tool, int argc,
                                      const char* const* argv, int usage_status) {
    app.set_version_flag("--version", version_line(tool), "Print the version and exit");
    const std::string subcommands = subcommand_names(app);
    if (!subcommands.empty() && argc > 1 && argv[1][0] != '-') {
        bool known = false;
        for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
            known = known || sub->check_name(argv[1]);
        if (!known) {
            std::fprintf(stderr, "%s: unknown subcommand '%s' (one of: %s)\n", tool, argv[1],
                         subcommands.c_str());
            return usage_status;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::fprintf(stderr, "%s: %s (see %s --help)\n", tool, one_line(e.what()).c_str(), tool);
        return usage_status;
    }
    return std::nullopt;
}

}  // namespace errtools
