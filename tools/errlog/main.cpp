// errlog: shows, verifies, exports, salvages and creates error log files on the host.
//
// Exit status: 0 done (verify: the log is valid), 1 the log is corrupt (verify, show, export;
// show: one of its logs), 2 a usage error or a file that cannot be read or written.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "command_line.h"
#include "log_format.h"
#include "log_view.h"
#include "merge.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitCorrupt = 1;
constexpr int kExitUsage = 2;

using json = nlohmann::ordered_json;

json entry_json(const errlog::Entry& e) {
    json j;
    j["record"] = e.record;
    j["overflow"] = e.overflow;
    j["code"] = e.code_value;
    j["text"] = e.text;
    j["component"] = e.component;
    j["date"] = e.date;
    j["time"] = e.time;
    j["file"] = e.file == "-" || e.file.empty() ? json(nullptr) : json(e.file);
    char* end = nullptr;
    long line = std::strtol(e.line.c_str(), &end, 10);
    j["line"] = !e.line.empty() && end && *end == 0 ? json(line) : json(nullptr);
    return j;
}

json fault_json(const std::string& file, const errlog::Log& log) {
    json j;
    j["file"] = file;
    j["valid"] = log.valid();
    if (!log.valid()) {
        j["fault"] = err::log_fault_name(log.check.fault);
        j["rule"] = log.rule;
    }
    j["reason"] = log.reason;
    return j;
}

void print_json(const json& j) {
    // Texts are bytes from the file: anything that is not UTF-8 is replaced, never an error.
    std::string s = j.dump(2, ' ', false, json::error_handler_t::replace);
    std::fputs(s.c_str(), stdout);
    std::fputc('\n', stdout);
}

bool load(const std::string& path, errlog::Log& log) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!errlog::read_file(path, bytes, error)) {
        std::fprintf(stderr, "errlog: cannot read %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    log = errlog::inspect_log(std::move(bytes));
    return true;
}

void print_corrupt(const std::string& path, const errlog::Log& log) {
    std::fprintf(stderr, "errlog: %s is corrupt: rule %d: %s\n", path.c_str(), log.rule,
                 log.reason.c_str());
}

json show_json(const std::string& path, const errlog::Log& log) {
    json j = fault_json(path, log);
    if (!log.valid()) return j;
    j["header"] = {
        {"error_start_record", log.error_start}, {"error_end_record", log.error_end},
        {"new_records", log.new_records},        {"overflow_record", log.overflow_record},
        {"empty_record", log.empty_record},      {"log_file_length", log.length_field}};
    j["errors"] = json::array();
    for (const auto& e : log.errors) j["errors"].push_back(entry_json(e));
    j["overflow"] = log.overflow_entry ? entry_json(*log.overflow_entry) : json(nullptr);
    j["free_records"] = log.free_records;
    return j;
}

// One line of --jsonl: an error or the overflow marker of the log named log.
json jsonl_object(const std::string& log, const errlog::Entry& e) {
    json j;
    j["log"] = log;
    j["type"] = e.overflow ? "overflow" : "error";
    j["record"] = e.record;
    if (!e.overflow) j["code"] = e.code_value;
    j["date"] = e.date;
    j["time"] = e.time;
    errlog::Stamp t;
    j["timestamp"] = errlog::parse_stamp(e, t) ? json(errlog::iso_time(t)) : json(nullptr);
    if (!e.overflow) {
        const json full = entry_json(e);
        j["component"] = full["component"];
        j["file"] = full["file"];
        j["line"] = full["line"];
    }
    j["text"] = e.text;
    return j;
}

enum class ShowForm { table, json, jsonl };

// show with one FILE: its table (or JSON object); with several FILEs or a folder: the errors
// of all of them in one list, newest first, each naming its log.
int cmd_show(const std::vector<std::string>& args, ShowForm form) {
    std::vector<std::string> paths;
    bool folder = false;
    for (const std::string& arg : args) {
        std::string error;
        const std::size_t before = paths.size();
        bool is_folder = false;
        if (!errlog::list_logs(arg, paths, is_folder, error)) {
            std::fprintf(stderr, "errlog: cannot read %s: %s\n", arg.c_str(), error.c_str());
            return kExitUsage;
        }
        if (is_folder && paths.size() == before) {
            std::fprintf(stderr, "errlog: no .log files in %s\n", arg.c_str());
            return kExitUsage;
        }
        folder = folder || is_folder;
    }
    const bool merged = folder || paths.size() > 1;

    // Every log is read and checked; a log that cannot be used is named on stderr and left out.
    int status = kExitOk;
    std::vector<std::string> names;
    std::vector<errlog::Log> logs;
    json all = json::array();
    for (const std::string& path : paths) {
        errlog::Log log;
        if (!load(path, log)) {
            status = kExitUsage;
            continue;
        }
        if (form == ShowForm::json) all.push_back(show_json(path, log));
        if (!log.valid()) {
            print_corrupt(path, log);
            if (status == kExitOk) status = kExitCorrupt;
            continue;
        }
        names.push_back(path);
        logs.push_back(std::move(log));
    }

    if (form == ShowForm::json) {
        if (!merged && all.size() == 1)
            print_json(all[0]);
        else if (merged)
            print_json(all);
        return status;
    }
    std::vector<const errlog::Log*> valid;
    for (const auto& log : logs) valid.push_back(&log);
    if (form == ShowForm::jsonl) {
        for (const auto& m : errlog::merge_newest_first(valid)) {
            const std::string line = jsonl_object(names[m.log], *m.entry)
                                         .dump(-1, ' ', false, json::error_handler_t::replace);
            std::printf("%s\n", line.c_str());
        }
        return status;
    }
    if (!merged) {
        if (!logs.empty())
            for (const auto& line : errlog::format_table(logs[0], names[0]))
                std::printf("%s\n", line.c_str());
        return status;
    }
    for (std::size_t i = 0; i < logs.size(); ++i)
        std::printf("%s\n", errlog::format_table(logs[i], names[i])[0].c_str());
    for (const auto& line : errlog::format_merged(names, errlog::merge_newest_first(valid)))
        std::printf("%s\n", line.c_str());
    return status;
}

int cmd_verify(const std::string& path, bool as_json) {
    errlog::Log log;
    if (!load(path, log)) return kExitUsage;
    if (as_json) {
        print_json(fault_json(path, log));
    } else if (log.valid()) {
        std::printf("%s: valid: %zu %s, %s\n", path.c_str(), log.errors.size(),
                    log.errors.size() == 1 ? "error" : "errors",
                    log.overflow_entry
                        ? ("overflow record " + std::to_string(log.overflow_record)).c_str()
                        : "no overflow");
    } else {
        std::printf("%s: corrupt: rule %d: %s\n", path.c_str(), log.rule, log.reason.c_str());
    }
    return log.valid() ? kExitOk : kExitCorrupt;
}

int cmd_export(const std::string& path, const std::string& out) {
    errlog::Log log;
    if (!load(path, log)) return kExitUsage;
    if (!log.valid()) {
        print_corrupt(path, log);
        return kExitCorrupt;
    }
    std::string error;
    if (!errlog::write_file(
            out, errlog::archive_text(log.new_records, log.overflow_entry, log.errors), error)) {
        std::fprintf(stderr, "errlog: cannot write %s: %s\n", out.c_str(), error.c_str());
        return kExitUsage;
    }
    return kExitOk;
}

int cmd_salvage(const std::string& path, bool as_json, const std::string& archive) {
    errlog::Log log;
    if (!load(path, log)) return kExitUsage;
    std::vector<errlog::Entry> found = errlog::salvage(log.bytes);
    if (!archive.empty()) {
        // The archive lists the errors newest first, after the newest overflow marker.
        std::optional<errlog::Entry> overflow;
        std::vector<errlog::Entry> newest_first;
        for (auto it = found.rbegin(); it != found.rend(); ++it) {
            if (!it->overflow)
                newest_first.push_back(*it);
            else if (!overflow)
                overflow = *it;
        }
        const std::uint16_t new_records = log.bytes.size() >= err::LOG_HEADER_SIZE
                                              ? log.new_records
                                              : static_cast<std::uint16_t>(0);
        std::string error;
        if (!errlog::write_file(archive, errlog::archive_text(new_records, overflow, newest_first),
                                error)) {
            std::fprintf(stderr, "errlog: cannot write %s: %s\n", archive.c_str(), error.c_str());
            return kExitUsage;
        }
    }
    if (as_json) {
        json j = fault_json(path, log);
        j["errors"] = json::array();
        for (const auto& e : found) j["errors"].push_back(entry_json(e));
        print_json(j);
        return kExitOk;
    }
    std::printf("%s: %zu %s still read as errors, oldest first (the log is %s)\n", path.c_str(),
                found.size(), found.size() == 1 ? "record" : "records",
                log.valid()
                    ? "valid"
                    : ("corrupt: rule " + std::to_string(log.rule) + ": " + log.reason).c_str());
    for (const auto& line : errlog::format_rows(found)) std::printf("%s\n", line.c_str());
    return kExitOk;
}

int cmd_create(const std::string& path, bool force) {
    struct stat sb;
    if (!force && stat(path.c_str(), &sb) == 0) {
        std::fprintf(stderr, "errlog: %s exists (use --force to replace it)\n", path.c_str());
        return kExitUsage;
    }
    std::vector<std::uint8_t> image = errlog::new_log_image();
    std::string error;
    if (!errlog::write_file(path, std::string(image.begin(), image.end()), error)) {
        std::fprintf(stderr, "errlog: cannot write %s: %s\n", path.c_str(), error.c_str());
        return kExitUsage;
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "errlog: shows, verifies, exports, salvages and creates error log files.\n"
        "Exit status: 0 done (verify: valid), 1 the log is corrupt, 2 usage or file error."};
    app.require_subcommand(1);

    std::string file, out, archive;
    bool as_json = false, force = false;

    std::vector<std::string> files;
    bool as_jsonl = false;
    auto* show = app.add_subcommand("show",
                                    "The errors of a log, newest first, and its overflow "
                                    "marker; of several logs or a folder of logs, all errors "
                                    "merged newest first");
    show->add_option("FILE", files, "Log file, or a folder of .log files; may be repeated")
        ->required();
    auto* json_flag = show->add_flag("--json", as_json, "Print JSON (schema in docs/errlog.md)");
    show->add_flag("--jsonl", as_jsonl, "Print one JSON object a line for each error")
        ->excludes(json_flag);

    auto* verify = app.add_subcommand("verify",
                                      "Check a log as the error task does at its "
                                      "start; exit 1 and the broken rule if corrupt");
    verify->add_option("FILE", file, "Log file")->required();
    verify->add_flag("--json", as_json, "Print JSON");

    auto* exp = app.add_subcommand("export",
                                   "Write the archive file that the error task writes "
                                   "on export; the log stays unchanged");
    exp->add_option("FILE", file, "Log file")->required();
    exp->add_option("OUT", out, "Archive file to write")->required();

    auto* salvage = app.add_subcommand(
        "salvage", "Every record of a (corrupt) log that still reads as an error, oldest first");
    salvage->add_option("FILE", file, "Log file, typically the .BAK of a corrupt log")->required();
    salvage->add_flag("--json", as_json, "Print JSON");
    salvage->add_option("--archive", archive, "Also write the records as an archive file")
        ->type_name("OUT");

    auto* create = app.add_subcommand("create", "Write a new, empty log file");
    create->add_option("FILE", file, "Log file")->required();
    create->add_flag("--force", force, "Replace an existing file");

    if (auto done = errtools::parse_command_line(app, "errlog", argc, argv, kExitUsage))
        return *done;

    if (*show)
        return cmd_show(files, as_jsonl  ? ShowForm::jsonl
                               : as_json ? ShowForm::json
                                         : ShowForm::table);
    if (*verify) return cmd_verify(file, as_json);
    if (*exp) return cmd_export(file, out);
    if (*salvage) return cmd_salvage(file, as_json, archive);
    if (*create) return cmd_create(file, force);
    return kExitUsage;
}
