// The tables of a script's define lines, built as firmware tables are: for each module number
// one array of entries in line order, ended by the end entry. errsim registers them before the
// system starts; errtable checks them.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "err/err_table.h"
#include "script.h"

namespace errsim {

// The box-kind function that a define line names, or null for none.
MbKindFunction kind_function(const std::optional<std::string>& name);

class ScriptTables {
  public:
    struct Table {
        const TableDef* def;     // the define lines (the script must outlive this object)
        ErrTableEntry* entries;  // def->entries.size() entries and the end entry
    };

    // Builds the tables of script's define lines (state 0, as a table's source writes it).
    // The arrays and their texts stay in place while this object lives: the registry keeps
    // pointers and the error task writes the state words.
    void build(const Script& script);
    // Registers every table built so far under its module number, in script order.
    void register_all() const;

    const std::vector<Table>& tables() const { return tables_; }

  private:
    const char* keep(const std::optional<std::string>& text);

    std::deque<std::string> texts_;
    std::deque<std::vector<ErrTableEntry>> arrays_;
    std::vector<Table> tables_;
};

}  // namespace errsim
