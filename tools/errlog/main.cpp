// errlog: shows, verifies, counts, exports, salvages and creates error log files on the host,
// one log or a whole fleet's folder at a time.
//
// Exit status: 0 done (verify: every log is valid), 1 a log is corrupt (verify, show, stats,
// export), 2 a usage error, or a file or folder that cannot be read or written.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <sys/stat.h>

#include "command_line.h"
#include "fleet.h"
#include "fleet_output.h"
#include "log_format.h"
#include "log_read.h"
#include "log_view.h"
#include "report_input.h"
#include "stats.h"

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
    errlog::Stamp t;
    j["timestamp"] = errlog::parse_stamp(e, t) ? json(errlog::iso_time(t)) : json(nullptr);
    j["file"] = e.file == "-" || e.file.empty() ? json(nullptr) : json(e.file);
    long line = 0;
    j["line"] = errlog::source_line_number(e.line, line) ? json(line) : json(nullptr);
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

json unreadable_json(const errlog::FleetLog& f) {
    json j;
    j["file"] = f.path;
    j["valid"] = false;
    j["fault"] = "unreadable";
    j["reason"] = f.error;
    return j;
}

std::string dump(const json& j, int indent) {
    // Texts are bytes from the file: anything that is not UTF-8 is replaced, never an error.
    return j.dump(indent, ' ', false, json::error_handler_t::replace);
}

void print_json(const json& j) {
    std::fputs(dump(j, 2).c_str(), stdout);
    std::fputc('\n', stdout);
}

// Prints the objects of a JSON array one by one, as print_json prints the whole array.
class JsonArrayPrinter {
  public:
    void add(const json& j) {
        std::string s = dump(j, 2);
        std::fputs(count_++ == 0 ? "[\n  " : ",\n  ", stdout);
        for (char c : s) {
            std::fputc(c, stdout);
            if (c == '\n') std::fputs("  ", stdout);
        }
    }
    void end() { std::fputs(count_ == 0 ? "[]\n" : "\n]\n", stdout); }

  private:
    std::size_t count_ = 0;
};

void print_line(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

void print_corrupt(const std::string& path, const errlog::Log& log) {
    std::fprintf(stderr, "errlog: %s is corrupt: rule %d: %s\n", path.c_str(), log.rule,
                 log.reason.c_str());
}

// ---- Fleet arguments shared by show, verify and stats ----

struct FleetArgs {
    std::vector<std::string> files;
    bool verbose = false;
    // Filters (show, stats)
    std::string since, until;
    std::vector<unsigned> codes;
    std::vector<std::string> components;
    long long newest = -1;
    bool reverse = false;
};

void add_fleet_args(CLI::App* cmd, FleetArgs& a) {
    cmd->add_option("FILE", a.files,
                    "Log file, or a folder searched for logs (with its subfolders); may be "
                    "repeated")
        ->required();
    cmd->add_flag("--verbose", a.verbose,
                  "Also list the files of the folders that are left out, and why");
}

void add_filter_args(CLI::App* cmd, FleetArgs& a) {
    cmd->add_option("--since", a.since,
                    "Only entries stored at or after this time: YYYY-MM-DD[ HH:MM[:SS]]");
    cmd->add_option("--until", a.until,
                    "Only entries stored at or before this time (a day or minute named whole)");
    cmd->add_option("--code", a.codes, "Only errors of these codes")
        ->delimiter(',')
        ->type_name("N[,N...]")
        ->check(CLI::Range(0, 65535));
    cmd->add_option("--component", a.components, "Only errors of these components (any case)")
        ->delimiter(',')
        ->type_name("NAME[,NAME...]");
    cmd->add_option("-n", a.newest, "Only the newest N entries (after the other filters)")
        ->check(CLI::Range(0LL, 1000000000LL))
        ->type_name("N");
    cmd->add_flag("--reverse", a.reverse, "Oldest first");
}

// The filter the arguments ask for; false (after a line on stderr) when a time is not one.
bool make_filter(const FleetArgs& a, errlog::Filter& f) {
    // A bound given is parsed into its key; false (after the line) when it is no time.
    const auto bound = [](const char* option, const std::string& text, bool upper, auto& key) {
        if (text.empty()) return true;
        long long parsed = 0;
        if (!errlog::parse_time_bound(text, upper, parsed)) {
            std::fprintf(stderr, "errlog: %s %s: not a date and time (YYYY-MM-DD[ HH:MM[:SS]])\n",
                         option, text.c_str());
            return false;
        }
        key = parsed;
        return true;
    };
    if (!bound("--since", a.since, false, f.since) || !bound("--until", a.until, true, f.until))
        return false;
    for (unsigned c : a.codes) f.codes.push_back(static_cast<std::uint16_t>(c));
    f.components = a.components;
    if (a.newest >= 0) f.newest = static_cast<std::size_t>(a.newest);
    f.reverse = a.reverse;
    return true;
}

// Names on stderr what the fleet holds besides its valid logs; the exit status it gives.
// corrupt_lines: a line for each corrupt log (show, stats; verify lists them on stdout).
int report_fleet(const errlog::Fleet& fleet, bool verbose, bool corrupt_lines) {
    int status = kExitOk;
    for (const auto& f : fleet.logs) {
        if (f.state == errlog::LogState::unreadable) {
            std::fprintf(stderr, "errlog: cannot read %s: %s\n", f.path.c_str(), f.error.c_str());
            status = kExitUsage;
        } else if (f.state == errlog::LogState::corrupt) {
            if (corrupt_lines) print_corrupt(f.path, f.log);
            if (status == kExitOk) status = kExitCorrupt;
        }
    }
    for (const auto& folder : fleet.empty_folders) {
        std::fprintf(stderr, "errlog: no logs in %s\n", folder.c_str());
        status = kExitUsage;
    }
    if (verbose) {
        for (const auto& s : fleet.skipped)
            std::fprintf(stderr, "errlog: left out %s: %s\n", s.path.c_str(), s.reason.c_str());
        for (const auto& path : fleet.repeats)
            std::fprintf(stderr, "errlog: left out %s: named before, read once\n", path.c_str());
    }
    if (!fleet.backups.empty())
        std::fprintf(stderr,
                     "errlog: note: %zu backup %s (.BAK) left out, the first %s; read %s with "
                     "`errlog salvage FILE`\n",
                     fleet.backups.size(), fleet.backups.size() == 1 ? "file" : "files",
                     fleet.backups.front().c_str(), fleet.backups.size() == 1 ? "it" : "each");
    return status;
}

// Whether the arguments name one file (the single-log forms of show and verify).
bool names_one_file(const std::vector<std::string>& files) {
    struct stat st;
    return files.size() == 1 && !(::stat(files[0].c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

// ---- show ----

enum class ShowForm { table, json, jsonl, csv };

// The JSON object of one log; a valid log's errors are those of selected (in the log's order,
// turned round with reverse).
json show_json(const errlog::FleetLog& f, const std::vector<bool>& selected, bool reverse) {
    if (f.state == errlog::LogState::unreadable) return unreadable_json(f);
    const errlog::Log& log = f.log;
    json j = fault_json(f.path, log);
    if (!log.valid()) return j;
    j["header"] = {
        {"error_start_record", log.error_start}, {"error_end_record", log.error_end},
        {"new_records", log.new_records},        {"overflow_record", log.overflow_record},
        {"empty_record", log.empty_record},      {"log_file_length", log.length_field}};
    json errors = json::array();
    json overflow = nullptr;
    for (std::size_t i = 0; i < f.entries.size(); ++i) {
        if (!selected[i]) continue;
        const errlog::Entry e = f.entry(f.entries[i]);
        if (e.overflow)
            overflow = entry_json(e);
        else
            errors.push_back(entry_json(e));
    }
    if (reverse) std::reverse(errors.begin(), errors.end());
    j["errors"] = std::move(errors);
    j["overflow"] = std::move(overflow);
    j["free_records"] = log.free_records;
    return j;
}

int cmd_show(const FleetArgs& args, ShowForm form) {
    errlog::FleetOptions options;
    if (!make_filter(args, options.filter)) return kExitUsage;
    const errlog::Fleet fleet = errlog::load_fleet(args.files, options);
    const int status = report_fleet(fleet, args.verbose, true);
    const bool single = names_one_file(args.files);
    const std::vector<errlog::MergedRef> refs = errlog::merged_entries(fleet, options.filter);

    if (form == ShowForm::json) {
        std::vector<std::vector<bool>> selected(fleet.logs.size());
        for (std::size_t i = 0; i < fleet.logs.size(); ++i)
            selected[i].assign(fleet.logs[i].entries.size(), false);
        for (const auto& r : refs) selected[r.log][r.entry] = true;
        if (single) {
            if (fleet.logs.size() == 1 && fleet.logs[0].state != errlog::LogState::unreadable)
                print_json(show_json(fleet.logs[0], selected[0], args.reverse));
            return status;
        }
        JsonArrayPrinter array;
        for (std::size_t i = 0; i < fleet.logs.size(); ++i)
            if (fleet.logs[i].state != errlog::LogState::unreadable)
                array.add(show_json(fleet.logs[i], selected[i], args.reverse));
        array.end();
        return status;
    }
    auto entry_of = [&](const errlog::MergedRef& r) {
        const errlog::FleetLog& f = fleet.logs[r.log];
        return f.fields(f.entries[r.entry]);
    };
    // One line per entry, appended by append_line(buffer, ref), written in blocks of 64 KiB.
    auto write_lines = [&](auto append_line) {
        std::string lines;
        for (const auto& r : refs) {
            append_line(lines, r);
            lines += '\n';
            if (lines.size() >= 1 << 16) {
                std::fwrite(lines.data(), 1, lines.size(), stdout);
                lines.clear();
            }
        }
        std::fwrite(lines.data(), 1, lines.size(), stdout);
    };
    if (form == ShowForm::jsonl) {
        write_lines([&](std::string& out, const errlog::MergedRef& r) {
            errlog::append_jsonl_line(out, fleet.logs[r.log].path, entry_of(r));
        });
        return status;
    }
    if (form == ShowForm::csv) {
        std::printf("%s\r\n", errlog::kCsvHeader);
        for (const auto& r : refs) {
            const std::string row = errlog::csv_row(fleet.logs[r.log].path, entry_of(r));
            std::fwrite(row.data(), 1, row.size(), stdout);
            std::fputs("\r\n", stdout);
        }
        return status;
    }
    if (single) {
        if (fleet.logs.size() != 1 || fleet.logs[0].state != errlog::LogState::valid) return status;
        print_line(errlog::log_head(fleet.logs[0].log, fleet.logs[0].path));
        print_line(errlog::kRowsHeading);
        if (refs.empty()) print_line("  (no errors)");
        for (const auto& r : refs) print_line(errlog::format_row(entry_of(r)));
        return status;
    }
    if (fleet.count(errlog::LogState::valid) == 0) return status;
    std::size_t width = 3;  // "log"
    for (const auto& f : fleet.logs)
        if (f.state == errlog::LogState::valid) {
            print_line(errlog::log_head(f.log, f.path));
            if (!f.entries.empty()) width = std::max(width, f.path.size());
        }
    print_line(errlog::merged_heading(width));
    if (refs.empty()) print_line("  (no errors)");
    write_lines([&](std::string& out, const errlog::MergedRef& r) {
        errlog::append_merged_row(out, fleet.logs[r.log].path, width, entry_of(r));
    });
    return status;
}

// ---- verify ----

std::string verify_line(const errlog::FleetLog& f) {
    const errlog::Log& log = f.log;
    if (f.state == errlog::LogState::unreadable) return f.path + ": unreadable: " + f.error;
    if (!log.valid())
        return f.path + ": corrupt: rule " + std::to_string(log.rule) + ": " + log.reason;
    return f.path + ": valid: " + std::to_string(log.error_count) +
           (log.error_count == 1 ? " error, " : " errors, ") +
           (err::logfmt::is_record_number(log.overflow_record)
                ? "overflow record " + std::to_string(log.overflow_record)
                : std::string("no overflow"));
}

int cmd_verify(const FleetArgs& args, bool as_json) {
    errlog::FleetOptions options;
    options.entries = false;
    const errlog::Fleet fleet = errlog::load_fleet(args.files, options);
    const bool single = names_one_file(args.files);
    if (single && fleet.logs.size() == 1 && fleet.logs[0].state == errlog::LogState::unreadable) {
        std::fprintf(stderr, "errlog: cannot read %s: %s\n", fleet.logs[0].path.c_str(),
                     fleet.logs[0].error.c_str());
        return kExitUsage;
    }
    // Every log gets its line on stdout; stderr only names what is not a log.
    errlog::Fleet rest;
    rest.empty_folders = fleet.empty_folders;
    rest.skipped = fleet.skipped;
    rest.repeats = fleet.repeats;
    rest.backups = fleet.backups;
    int status = report_fleet(rest, args.verbose, false);
    for (const auto& f : fleet.logs) {
        const int s = f.state == errlog::LogState::unreadable ? kExitUsage
                      : f.state == errlog::LogState::corrupt  ? kExitCorrupt
                                                              : kExitOk;
        status = std::max(status, s);
    }
    if (as_json) {
        if (single && fleet.logs.size() == 1) {
            print_json(fault_json(fleet.logs[0].path, fleet.logs[0].log));
            return status;
        }
        JsonArrayPrinter array;
        for (const auto& f : fleet.logs)
            array.add(f.state == errlog::LogState::unreadable ? unreadable_json(f)
                                                              : fault_json(f.path, f.log));
        array.end();
        return status;
    }
    for (const auto& f : fleet.logs) print_line(verify_line(f));
    if (!single)
        std::printf("%zu %s: %zu valid, %zu corrupt, %zu unreadable\n", fleet.logs.size(),
                    fleet.logs.size() == 1 ? "log" : "logs", fleet.count(errlog::LogState::valid),
                    fleet.count(errlog::LogState::corrupt),
                    fleet.count(errlog::LogState::unreadable));
    return status;
}

// ---- stats ----

json counts_json(const std::vector<errlog::Count>& counts, const char* key, bool code) {
    json a = json::array();
    for (const auto& c : counts) {
        json j;
        if (code)
            j[key] = std::atoi(c.name.c_str());
        else
            j[key] = c.name;
        if (code) j["text"] = c.text;
        j["count"] = c.count;
        a.push_back(std::move(j));
    }
    return a;
}

void print_counts(const char* title, const std::vector<errlog::Count>& counts, bool code) {
    std::printf("%s\n", title);
    if (counts.empty()) std::printf("  (none)\n");
    for (const auto& c : counts) {
        if (code)
            std::printf("  %6zu  %s  %s\n", c.count, c.name.c_str(),
                        errlog::escape(c.text).c_str());
        else
            std::printf("  %6zu  %s\n", c.count,
                        c.name.empty() ? "-" : errlog::escape(c.name).c_str());
    }
}

int cmd_stats(const FleetArgs& args, bool as_json) {
    errlog::FleetOptions options;
    if (!make_filter(args, options.filter)) return kExitUsage;
    const errlog::Fleet fleet = errlog::load_fleet(args.files, options);
    const int status = report_fleet(fleet, args.verbose, true);
    errlog::Filter newest_first = options.filter;
    newest_first.reverse = false;  // counts do not depend on the order
    const errlog::FleetStats s =
        errlog::count_entries(fleet, errlog::merged_entries(fleet, newest_first));
    if (as_json) {
        json j;
        j["logs_valid"] = fleet.count(errlog::LogState::valid);
        j["logs_corrupt"] = fleet.count(errlog::LogState::corrupt);
        j["logs_unreadable"] = fleet.count(errlog::LogState::unreadable);
        j["errors"] = s.errors;
        j["overflows"] = s.overflows;
        j["undated"] = s.undated;
        j["codes"] = counts_json(s.codes, "code", true);
        j["components"] = counts_json(s.components, "component", false);
        j["logs"] = counts_json(s.logs, "log", false);
        j["days"] = counts_json(s.days, "day", false);
        print_json(j);
        return status;
    }
    std::printf("%zu %s, %zu overflow %s, in %zu valid %s (%zu corrupt, %zu unreadable)\n",
                s.errors, s.errors == 1 ? "error" : "errors", s.overflows,
                s.overflows == 1 ? "marker" : "markers", fleet.count(errlog::LogState::valid),
                fleet.count(errlog::LogState::valid) == 1 ? "log" : "logs",
                fleet.count(errlog::LogState::corrupt), fleet.count(errlog::LogState::unreadable));
    print_counts("  errors  code   text (of the newest)", s.codes, true);
    print_counts("  errors  component", s.components, false);
    print_counts("  errors  log", s.logs, false);
    std::vector<errlog::Count> days = s.days;
    if (s.undated) days.push_back(errlog::Count{"no date", s.undated, {}});
    print_counts("  errors  day", days, false);
    return status;
}

// ---- report ----

// The page of what show would show with the same filters, written to page_path; the exit
// status as show's (the page is written also when a log is corrupt or cannot be read).
int cmd_report(const FleetArgs& args, const std::string& page_path) {
    errlog::FleetOptions options;
    if (!make_filter(args, options.filter)) return kExitUsage;
    const errlog::Fleet fleet = errlog::load_fleet(args.files, options);
    const int status = report_fleet(fleet, args.verbose, true);
    std::string title = "Error logs of ";
    for (std::size_t i = 0; i < args.files.size() && i < 3; ++i)
        title += (i ? ", " : "") + args.files[i];
    if (args.files.size() > 3) title += " and " + std::to_string(args.files.size() - 3) + " more";
    const errlog::ReportInput input = errlog::fleet_report(
        fleet, errlog::merged_entries(fleet, options.filter), options.filter, title);
    std::string page, error;
    errlog::write_report_page(input, page);
    if (!errlog::write_file(page_path, page, error)) {
        std::fprintf(stderr, "errlog: cannot write %s: %s\n", page_path.c_str(), error.c_str());
        return kExitUsage;
    }
    return status;
}

// ---- export, salvage, create: one file ----

bool load(const std::string& path, std::size_t limit, errlog::Log& log) {
    errlog::FileRead file;
    if (!errlog::read_bounded(path, limit, file)) {
        std::fprintf(stderr, "errlog: cannot read %s: %s\n", path.c_str(), file.error.c_str());
        return false;
    }
    const std::int64_t length = file.length;
    log = errlog::inspect_log(std::move(file.bytes), length);
    return true;
}

int cmd_export(const std::string& path, const std::string& out) {
    errlog::Log log;
    if (!load(path, err::LOG_FILE_SIZE, log)) return kExitUsage;
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
    if (!load(path, errlog::kSalvageReadLimit, log)) return kExitUsage;
    if (log.bytes.size() > errlog::kSalvageReadLimit) {
        log.bytes.resize(errlog::kSalvageReadLimit);
        std::fprintf(stderr, "errlog: note: only the first %zu bytes of %s were searched\n",
                     errlog::kSalvageReadLimit, path.c_str());
    }
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
        for (const auto& e : found) {
            j["errors"].push_back(entry_json(e));
            j["errors"].back()["unconfirmed"] = e.unconfirmed;
        }
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

int run(int argc, char** argv) {
    CLI::App app{
        "errlog: shows, verifies, counts, exports, salvages and creates error log files.\n"
        "Exit status: 0 done (verify: valid), 1 a log is corrupt, 2 usage or file error."};
    app.require_subcommand(1);

    std::string file, out, archive;
    bool as_json = false, force = false;

    FleetArgs show_args;
    bool as_jsonl = false, as_csv = false;
    auto* show = app.add_subcommand("show",
                                    "The errors of a log, newest first, and its overflow "
                                    "marker; of several logs or a folder of logs, all errors "
                                    "merged newest first");
    add_fleet_args(show, show_args);
    add_filter_args(show, show_args);
    auto* json_flag = show->add_flag("--json", as_json, "Print JSON (schema in docs/errlog.md)");
    auto* jsonl_flag =
        show->add_flag("--jsonl", as_jsonl, "Print one JSON object a line for each error")
            ->excludes(json_flag);
    show->add_flag("--csv", as_csv, "Print CSV (RFC 4180) with a header row")
        ->excludes(json_flag)
        ->excludes(jsonl_flag);

    FleetArgs verify_args;
    auto* verify = app.add_subcommand("verify",
                                      "Check logs as the error task does at its start: one "
                                      "line per log, exit 1 when one is corrupt");
    add_fleet_args(verify, verify_args);
    verify->add_flag("--json", as_json, "Print JSON");

    FleetArgs stats_args;
    auto* stats = app.add_subcommand(
        "stats", "Counts of errors per code, component, log and day, with show's filters");
    add_fleet_args(stats, stats_args);
    add_filter_args(stats, stats_args);
    stats->add_flag("--json", as_json, "Print JSON");

    FleetArgs report_args;
    std::string page_path;
    auto* report = app.add_subcommand(
        "report", "One self-contained HTML page of what show shows, with show's filters");
    add_fleet_args(report, report_args);
    add_filter_args(report, report_args);
    report->add_option("-o,--output", page_path, "The page to write")
        ->required()
        ->type_name("PAGE.html");

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
        return cmd_show(show_args, as_jsonl  ? ShowForm::jsonl
                                   : as_csv  ? ShowForm::csv
                                   : as_json ? ShowForm::json
                                             : ShowForm::table);
    if (*verify) return cmd_verify(verify_args, as_json);
    if (*stats) return cmd_stats(stats_args, as_json);
    if (*report) return cmd_report(report_args, page_path);
    if (*exp) return cmd_export(file, out);
    if (*salvage) return cmd_salvage(file, as_json, archive);
    if (*create) return cmd_create(file, force);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "errlog: %s\n", e.what());
    } catch (...) {
        std::fflush(stdout);
        std::fprintf(stderr, "errlog: unexpected failure\n");
    }
    return kExitUsage;
}
