// The filters of `show`, `stats` and `report`: a time window, error codes, components, the
// newest N and the order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log_view.h"

namespace errlog {

struct Filter {
    std::optional<long long> since, until;  // stamp keys (stamp_key), both inclusive
    std::vector<std::uint16_t> codes;       // empty: every code
    std::vector<std::string> components;    // empty: every component; matched ignoring case
    std::optional<std::size_t> newest;      // -n: the newest N entries that pass, after merging
    bool reverse = false;                   // oldest first

    // Whether the entry passes the window, codes and components (not -n). key is the entry's
    // stamp key, none when its date or time cannot be read: such an entry passes only when no
    // window is set. An overflow marker has no code and no component: it passes only when no
    // code and no component is asked for.
    bool passes(const EntryFields& e, std::optional<long long> key) const;
};

// A date and time as the user writes it, "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or
// "YYYY-MM-DD HH:MM:SS" (a "T" may stand for the blank), as a stamp key. The parts left out
// are the start of the day or minute named, or with end set its last second (so that
// --until 2026-12-05 takes the whole day). False when the text is no such date and time.
bool parse_time_bound(std::string_view text, bool end, long long& key);

}  // namespace errlog
