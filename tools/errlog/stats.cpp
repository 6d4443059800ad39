#include "stats.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <unordered_map>

namespace errlog {

namespace {

std::vector<Count> most_first(std::vector<Count> counts) {
    std::sort(counts.begin(), counts.end(), [](const Count& a, const Count& b) {
        return a.count != b.count ? a.count > b.count : a.name < b.name;
    });
    return counts;
}

std::string day_of(long long key) {
    const long long day = key / 1000000;  // YYYYMMDD
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld", day / 10000, day / 100 % 100, day % 100);
    return buf;
}

}  // namespace

FleetStats count_entries(const Fleet& fleet, const std::vector<MergedRef>& refs) {
    FleetStats s;
    std::unordered_map<std::uint32_t, std::size_t> per_log;
    std::map<std::uint16_t, Count> codes;
    std::map<std::string, std::size_t> components;
    std::map<long long, std::size_t> days;  // YYYYMMDD
    for (const MergedRef& r : refs) {
        const FleetLog& log = fleet.logs[r.log];
        const FleetEntry& fe = log.entries[r.entry];
        const EntryFields e = log.fields(fe);
        if (e.overflow) {
            ++s.overflows;
            continue;
        }
        ++s.errors;
        ++per_log[r.log];
        Count& c = codes[e.code_value];
        if (c.count++ == 0) {
            c.name = e.code;
            c.text = e.text;
        }
        ++components[std::string(e.component)];
        if (fe.dated)
            ++days[fe.key / 1000000];
        else
            ++s.undated;
    }
    for (auto& [code, c] : codes) s.codes.push_back(std::move(c));
    s.codes = most_first(std::move(s.codes));
    for (auto& [name, n] : components) s.components.push_back(Count{name, n, {}});
    s.components = most_first(std::move(s.components));
    for (std::size_t i = 0; i < fleet.logs.size(); ++i)
        if (fleet.logs[i].state == LogState::valid) {
            auto it = per_log.find(static_cast<std::uint32_t>(i));
            s.logs.push_back(Count{fleet.logs[i].path, it == per_log.end() ? 0 : it->second, {}});
        }
    for (auto& [day, n] : days) s.days.push_back(Count{day_of(day * 1000000), n, {}});
    return s;
}

}  // namespace errlog
