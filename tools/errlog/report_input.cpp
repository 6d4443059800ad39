#include "report_input.h"

#include <algorithm>
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

// A stamp key (YYYYMMDDhhmmss) as the user writes a time: "2026-12-05 14:00:00".
std::string key_text(long long key) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", key / 10000000000,
                  key / 100000000 % 100, key / 1000000 % 100, key / 10000 % 100, key / 100 % 100,
                  key % 100);
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

void make_fleet_report(const Fleet& fleet, const std::vector<MergedRef>& refs, const Filter& filter,
                       std::string title, FleetReport& out) {
    ReportInput& in = out.input;
    in = ReportInput{};
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
    // The texts first, each entry's six after one another; the views once the pool stands.
    std::string& pool = out.texts;
    pool.clear();
    std::vector<std::uint16_t> sizes;  // a field is part of a record: far below 65536
    sizes.reserve(refs.size() * 6);
    in.entries.resize(refs.size());
    for (std::size_t i = 0; i < refs.size(); ++i) {
        const FleetLog& f = fleet.logs[refs[i].log];
        const Entry e = f.entry(f.entries[refs[i].entry]);
        ReportEntry& r = in.entries[i];
        r.log = page_log[refs[i].log];
        r.overflow = e.overflow;
        r.code = e.code_value;
        Stamp t;
        r.has_stamp = parse_stamp(e, t);
        if (r.has_stamp)
            r.stamp = epoch_seconds(t.year, t.month, t.day, t.hour, t.minute, t.second);
        for (const std::string* field :
             {&e.date, &e.time, &e.text, &e.component, &e.file, &e.line}) {
            pool += *field;
            sizes.push_back(static_cast<std::uint16_t>(field->size()));
        }
    }
    std::size_t at = 0, k = 0;
    for (ReportEntry& r : in.entries) {
        for (std::string_view* field :
             {&r.date, &r.time, &r.text, &r.component, &r.file, &r.line}) {
            *field = std::string_view(pool).substr(at, sizes[k]);
            at += sizes[k++];
        }
    }
}

}  // namespace errlog
