// What errtable checks: every table that was offered to the registry, where it came from and
// what the registry made of it, and the findings about them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "err/err_table.h"

namespace errtable {

// What the registry made of a table offered to it.
enum class Outcome {
    registered,    // the table holds its slot
    out_of_range,  // module number 20 or more: refused
    slot_taken,    // another table holds the slot: refused
    null_table,    // refused
    no_end_entry,  // no end entry within the table's memory: kept from the registry
    no_table,      // a module that registered no table at all (no entries, no module number)
};

const char* outcome_name(Outcome outcome);

struct Table {
    std::string source;      // --module PATH as given, the script file, or "liberr"
    std::string symbol;      // a module's table: its name in the module's symbol table, if any
    bool own = false;        // the error module's own table
    std::vector<int> lines;  // script tables: the define line of each entry
    std::uint16_t module = 0;
    const ErrTableEntry* entries = nullptr;
    std::size_t count = 0;  // entries before the end entry
    Outcome outcome = Outcome::registered;
    std::optional<std::size_t> taken_by;  // slot_taken: the table that holds the slot
};

struct Finding {
    std::size_t table = 0;             // index into the tables
    std::optional<std::size_t> entry;  // none: the finding is about the whole table
    std::string rule;
    std::string message;
    bool note = false;  // a note on what the entry does, no fault: it leaves the exit status 0
};

// Where a finding stands: "FILE:LINE" for a script's define line, "SOURCE:SYMBOL[INDEX]" for
// an entry of a module's table whose symbol is known, else "SOURCE[INDEX]" (entry index from 0),
// "SOURCE:SYMBOL" or the source alone for a whole table (a script table: its first define line).
std::string location(const Table& table, std::optional<std::size_t> entry);

}  // namespace errtable
