#include "tables.h"

namespace errtable {

const char* outcome_name(Outcome outcome) {
    switch (outcome) {
        case Outcome::registered:
            return "registered";
        case Outcome::out_of_range:
            return "out_of_range";
        case Outcome::slot_taken:
            return "slot_taken";
        case Outcome::null_table:
            return "null_table";
        case Outcome::no_end_entry:
            return "no_end_entry";
        case Outcome::no_table:
            return "no_table";
    }
    return "?";
}

std::string location(const Table& table, std::optional<std::size_t> entry) {
    if (!table.lines.empty()) {
        const std::size_t i = entry && *entry < table.lines.size() ? *entry : 0;
        return table.source + ":" + std::to_string(table.lines[i]);
    }
    const std::string named =
        table.symbol.empty() ? table.source : table.source + ":" + table.symbol;
    if (!entry) return named;
    return named + "[" + std::to_string(*entry) + "]";
}

}  // namespace errtable
