// Loading what errtable checks and seeing every table that is offered to the registry.
//
// errtable carries the error module inside itself (see CMakeLists.txt): the firmware modules
// it loads bind their E_RegisterErrorTable calls to that one copy, and the registry's watcher
// shows errtable each table before the registry looks at it, so that a table without its end
// entry is never walked.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "script_tables.h"
#include "tables.h"

namespace errtable {

// A table holds each error number at most once to any use (65535 numbers) and its end entry;
// a walk never goes further, nor past the end of the memory that holds the table.
constexpr std::size_t kMaxTableEntries = 65536;

class Capture {
  public:
    // Installs the registry's watcher; one Capture at a time.
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Loads a firmware module (a path without "/" is taken relative to the current folder);
    // its load-time entries register their tables, each named by its symbol where the module's
    // symbol table has it; a module that registers none is kept as a table of outcome no_table.
    // False, with the loader's reason, when it cannot be loaded.
    bool load_module(const std::string& path, std::string& error);
    // Registers the tables of a script's define lines, in script order.
    void register_script(const std::string& name, const errsim::ScriptTables& tables);

    // Every table offered to the registry, in the order offered (the module's own table, which
    // registers when errtable starts, first), with what the registry made of it.
    std::vector<Table> tables() const;

  private:
    static bool watch(std::uint16_t module, const ErrTableEntry* table);

    struct Offer {
        Table table;  // source, symbol, lines, module, entries, count; outcome no_end_entry,
                      // no_table or open
        bool ended = false;
    };
    std::vector<Offer> offers_;
    std::string source_;                       // where the next registrations come from
    const std::vector<int>* lines_ = nullptr;  // their define lines (script tables)
};

}  // namespace errtable
