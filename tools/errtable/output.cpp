#include "output.h"

#include <nlohmann/json.hpp>

namespace errtable {

namespace {

using json = nlohmann::ordered_json;

json or_null(bool present, const json& value) {
    return present ? value : json(nullptr);
}

}  // namespace

std::string finding_line(const std::vector<Table>& tables, const Finding& f) {
    const Table& t = tables[f.table];
    if (t.outcome == Outcome::no_table)
        return location(t, f.entry) + ": " + f.rule + ": " + f.message;
    std::string line = location(t, f.entry) + ": module " + std::to_string(t.module) + ": ";
    if (f.entry) line += "number " + std::to_string(t.entries[*f.entry].id) + ": ";
    return line + (f.note ? "note: " : "") + f.rule + ": " + f.message;
}

std::string findings_json(const std::vector<Table>& tables, const std::vector<Finding>& findings) {
    json j;
    j["tables"] = json::array();
    for (const Table& t : tables) {
        const bool walked = t.outcome != Outcome::no_end_entry &&
                            t.outcome != Outcome::null_table && t.outcome != Outcome::no_table;
        j["tables"].push_back({
            {"source", t.source},
            {"symbol", or_null(!t.symbol.empty(), t.symbol)},
            {"line", or_null(!t.lines.empty(), t.lines.empty() ? 0 : t.lines.front())},
            {"module", or_null(t.outcome != Outcome::no_table, t.module)},
            {"entries", or_null(walked, t.count)},
            {"outcome", outcome_name(t.outcome)},
        });
    }
    j["findings"] = json::array();
    for (const Finding& f : findings) {
        const Table& t = tables[f.table];
        const bool line = f.entry ? *f.entry < t.lines.size() : !t.lines.empty();
        const std::size_t line_index = f.entry ? *f.entry : 0;
        j["findings"].push_back({
            {"location", location(t, f.entry)},
            {"source", t.source},
            {"line", or_null(line, line ? t.lines[line_index] : 0)},
            {"entry", or_null(f.entry.has_value(), f.entry.value_or(0))},
            {"module", or_null(t.outcome != Outcome::no_table, t.module)},
            {"number", or_null(f.entry.has_value(), f.entry ? t.entries[*f.entry].id : 0)},
            {"rule", f.rule},
            {"message", f.message},
            {"note", f.note},
        });
    }
    // Texts come from the tables: bytes that are not UTF-8 are replaced, never an error.
    return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string summary_line(const std::vector<Table>& tables, const std::vector<Finding>& findings,
                         bool own_entries) {
    std::size_t table_count = 0, entry_count = 0;
    for (const Table& t : tables) {
        if ((t.own && !own_entries) || t.outcome == Outcome::no_table) continue;
        ++table_count;
        entry_count += t.count;
    }
    const auto counted = [](std::size_t n, const char* one, const char* more) {
        return std::to_string(n) + " " + (n == 1 ? one : more);
    };
    // Notes are no faults: counted apart, and only when there are some.
    std::size_t notes = 0;
    for (const Finding& f : findings) notes += f.note ? 1 : 0;
    std::string line = "errtable: " + counted(table_count, "table", "tables") + ", " +
                       counted(entry_count, "entry", "entries") + ", " +
                       counted(findings.size() - notes, "finding", "findings");
    if (notes > 0) line += ", " + counted(notes, "note", "notes");
    return line;
}

}  // namespace errtable
