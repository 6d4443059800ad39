#include "report_input.h"

#include <cctype>
#include <cstdio>

#include "log_path.h"

namespace errlog {

namespace {

// The file name of a path with / or \ between its parts, in upper case.
std::string upper_file_name(std::string_view path) {
    const auto slash = path.find_last_of("/\\");
    std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

// The date and time of a stamp key (YYYYMMDDhhmmss, see stamp_key).
Stamp stamp_of_key(long long key) {
    Stamp t;
    t.year = static_cast<int>(key / 10000000000);
    t.month = static_cast<int>(key / 100000000 % 100);
    t.day = static_cast<int>(key / 1000000 % 100);
    t.hour = static_cast<int>(key / 10000 % 100);
    t.minute = static_cast<int>(key / 100 % 100);
    t.second = static_cast<int>(key % 100);
    return t;
}

// A stamp key as the user writes a time: "2026-12-05 14:00:00".
std::string key_text(long long key) {
    const Stamp t = stamp_of_key(key);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

}  // namespace

LogKind log_kind_of(std::string_view path) {
    const std::string name = upper_file_name(path);
    if (name == upper_file_name(err::kSystemLogDefault)) return LogKind::system;
    if (name == upper_file_name(err::kUserLogDefault)) return LogKind::user;
    return LogKind::other;
}

std::string describe_filter(const Filter& f) {
    std::string out;
    auto word = [&](const std::string& w) { out += (out.empty() ? "" : " ") + w; };
    if (f.since) word("--since '" + key_text(*f.since) + "'");
    if (f.until) word("--until '" + key_text(*f.until) + "'");
    std::string codes, components;
    for (std::uint16_t c : f.codes) codes += (codes.empty() ? "" : ",") + std::to_string(c);
    for (const std::string& c : f.components) components += (components.empty() ? "" : ",") + c;
    if (!codes.empty()) word("--code " + codes);
    if (!components.empty()) word("--component " + components);
    if (f.newest) word("-n " + std::to_string(*f.newest));
    if (f.reverse) word("--reverse");
    return out;
}

ReportInput fleet_report(const Fleet& fleet, const std::vector<MergedRef>& refs,
                         const Filter& filter, std::string title) {
    ReportInput in;
    in.title = std::move(title);
    in.filters = describe_filter(filter);
    in.oldest_first = filter.reverse;
    in.backups = fleet.backups.size();
    // Page log numbers of the fleet's logs (unreadable ones have none).
    std::vector<std::uint32_t> page_log(fleet.logs.size());
    for (std::size_t i = 0; i < fleet.logs.size(); ++i) {
        const FleetLog& f = fleet.logs[i];
        if (f.state == LogState::unreadable) {
            in.unreadable.push_back(f.path + ": " + f.error);
            continue;
        }
        page_log[i] = static_cast<std::uint32_t>(in.logs.size());
        ReportLog log;
        log.path = f.path;
        log.instrument = f.folder;
        log.kind = log_kind_of(f.path);
        log.valid = f.state == LogState::valid;
        log.rule = f.log.rule;
        if (!log.valid) log.reason = f.log.reason;
        in.logs.push_back(std::move(log));
    }
    in.entries.resize(refs.size());
    for (std::size_t i = 0; i < refs.size(); ++i) {
        const FleetLog& f = fleet.logs[refs[i].log];
        const FleetEntry& p = f.entries[refs[i].entry];
        const EntryFields e = f.fields(p);
        ReportEntry& r = in.entries[i];
        r.log = page_log[refs[i].log];
        r.overflow = e.overflow;
        r.code = e.code_value;
        r.has_stamp = p.dated;
        if (p.dated) {
            const Stamp t = stamp_of_key(p.key);
            r.stamp = epoch_seconds(t.year, t.month, t.day, t.hour, t.minute, t.second);
        }
        r.date = e.date;
        r.time = e.time;
        r.text = e.text;
        r.component = e.component;
        r.file = e.file;
        r.line = e.line;
    }
    return in;
}

}  // namespace errlog
