#include "script_tables.h"

#include "err/mb_kind.h"

namespace errsim {

MbKindFunction kind_function(const std::optional<std::string>& name) {
    if (!name) return nullptr;
#define ERRSIM_KIND(kind) {#kind, kind},
    static const struct {
        const char* name;
        MbKindFunction fn;
    } kinds[] = {MB_KIND_LIST(ERRSIM_KIND)};
#undef ERRSIM_KIND
    for (const auto& k : kinds)
        if (*name == k.name) return k.fn;
    return nullptr;
}

const char* ScriptTables::keep(const std::optional<std::string>& text) {
    if (!text) return nullptr;
    texts_.push_back(*text);
    return texts_.back().c_str();
}

void ScriptTables::build(const Script& script) {
    for (const TableDef& def : script.tables) {
        std::vector<ErrTableEntry> table;
        for (const EntryDef& e : def.entries) {
            ErrTableEntry entry{};
            entry.id = e.id;
            entry.flags = e.flags;
            entry.state = 0;
            entry.action_a = e.action_a;
            entry.action_b = e.action_b;
            entry.text_a = keep(e.text_a);
            entry.text_b = keep(e.text_b);
            entry.component = keep(e.component);
            entry.mb_kind_a = kind_function(e.kind_a);
            entry.mb_kind_b = kind_function(e.kind_b);
            table.push_back(entry);
        }
        ErrTableEntry end{};
        end.id = ERR_TABLE_END;
        table.push_back(end);
        arrays_.push_back(std::move(table));
        tables_.push_back(Table{&def, arrays_.back().data()});
    }
}

void ScriptTables::register_all() const {
    for (const Table& t : tables_) E_RegisterErrorTable(t.def->module, t.entries);
}

}  // namespace errsim
