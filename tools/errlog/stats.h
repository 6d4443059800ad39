// `errlog stats`: how many errors the selected entries hold per error code, per component, per
// log and per day.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fleet.h"

namespace errlog {

struct Count {
    std::string name;  // the code's 5 digits, the component ("" blank), the log, "YYYY-MM-DD"
    std::size_t count = 0;
    std::string text;  // codes: the text of its newest error
};

struct FleetStats {
    std::size_t errors = 0;         // errors among the entries
    std::size_t overflows = 0;      // overflow markers among the entries (in no count below)
    std::size_t undated = 0;        // errors whose date cannot be read (in no day)
    std::vector<Count> codes;       // most errors first, then by code
    std::vector<Count> components;  // most errors first, then by name
    std::vector<Count> logs;        // errors of every valid log, in the fleet's order
    std::vector<Count> days;        // oldest first
};

// Counts the entries refs name (merged_entries: newest first, so the text of a code is that of
// its newest error, whatever the order asked for).
FleetStats count_entries(const Fleet& fleet, const std::vector<MergedRef>& refs);

}  // namespace errlog
