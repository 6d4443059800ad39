#include "rules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "err/mb_kind.h"
#include "log.h"
#include "log_format.h"
#include "task_parts.h"
#include "task_state.h"

namespace errtable {

namespace {

using EntryKey = std::pair<std::size_t, std::size_t>;  // table, entry
using Sink = std::vector<Finding>;

std::string hex(unsigned value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", value);
    return buf;
}

// The two variants of a definition, as the error task picks them.
struct Variant {
    const char* name;  // "A" or "B"
    std::uint16_t action;
    const char* text;
    MbKindFunction kind;
    const char* kind_field;
};

void add(Sink& out, std::size_t table, std::optional<std::size_t> entry, const char* rule,
         std::string message) {
    out.push_back(Finding{table, entry, rule, std::move(message)});
}

// The error text of a template without arguments: what every report shows at least.
std::size_t expanded_length(const char* text, std::size_t size) {
    std::string buffer(size, '\0');
    err::expand_error_text(buffer.data(), static_cast<std::uint16_t>(size), text, "");
    return std::strlen(buffer.c_str());
}

void check_text(Sink& out, std::size_t t, std::size_t i, const Variant& v) {
    if (v.text == nullptr) return;
    const std::size_t whole_size = std::min<std::size_t>(std::strlen(v.text) + 1, 0xFFFF);
    const std::size_t whole = expanded_length(v.text, whole_size);
    if (whole > expanded_length(v.text, err::kTextBufSize)) {
        add(out, t, i, "text-cut",
            std::string("text ") + v.name + " is cut: " + std::to_string(whole) +
                " characters even without parameters, the error text holds " +
                std::to_string(err::kTextBufSize - 1));
    }
    for (const char* rest = v.text;;) {
        const err::TemplateStep step = err::next_template_step(rest);
        if (!step.place && !step.at_end) {
            const std::size_t at = static_cast<std::size_t>(step.rest - v.text);  // 1-based
            const std::string what =
                *step.rest ? "\"%" + std::string(1, *step.rest) + "\"" : std::string("\"%\"");
            add(out, t, i, "percent",
                std::string("text ") + v.name + ": " + (*step.rest ? "" : "final ") + what +
                    " at character " + std::to_string(at) +
                    " is no parameter place (only \"%s\" is): the \"%\" stays as it is");
        }
        if (step.at_end) break;
        rest = step.rest;
    }
}

void check_actions(Sink& out, std::size_t t, std::size_t i, const Variant& v) {
    const std::string action = std::string("action ") + v.name + " " + std::to_string(v.action);
    if (!err::is_action_code(v.action)) {
        add(out, t, i, "unknown-action",
            action + " is no action code: the chain ends at once with the result " +
                std::to_string(v.action));
        return;
    }
    if (err::box_step_title(v.action) == nullptr) return;
    const MbKind* kind = v.kind ? v.kind() : nullptr;
    if (kind == nullptr) {
        add(out, t, i, "box-without-kind",
            action + " shows a message box but " + v.kind_field +
                (v.kind ? " yields no kind" : " is null") +
                ": the box has no buttons and answers 0");
        return;
    }
    const std::size_t shown = err::shown_buttons(kind);
    for (std::size_t b = 0; b < shown; ++b) {
        const MbButton* button = kind->buttons[b];
        if (!err::is_chain_step(button->code)) continue;
        add(out, t, i, "kind-chain",
            action + " shows a box whose button " + quoted(button->label) + " answers " +
                std::to_string(button->code) + ", itself an action code: the chain goes on");
    }
    if (err::is_chain_step(kind->default_code)) {
        add(out, t, i, "kind-chain",
            action + " shows a box whose default answer " + std::to_string(kind->default_code) +
                " is itself an action code: the chain goes on");
    }
}

void check_entry(Sink& out, std::size_t t, std::size_t i, const ErrTableEntry& e) {
    const unsigned unknown = e.flags & ~static_cast<unsigned>(EF_ALL);
    if (unknown != 0) {
        add(out, t, i, "unknown-flags",
            "flags " + hex(e.flags) + ": bits " + hex(unknown) +
                " are none of EF_SYSTEM, EF_ARCHIVE, EF_SHOW_ONCE, EF_IEC_TEXT");
    }
    if ((e.flags & EF_IEC_TEXT) != 0 && !err::sends_status_text(e.flags)) {
        add(out, t, i, "iec-text-system",
            "EF_IEC_TEXT on a system error: its text never goes to the status task");
    }
    if (e.component != nullptr) {
        std::uint8_t field[err::logfmt::kComponentWidth];
        if (!err::text_to_field(field, sizeof field, e.component)) {
            add(out, t, i, "component-cut",
                "component " + quoted(e.component) + " does not fit the log record's " +
                    std::to_string(sizeof field) + "-character field: it is cut");
        }
    }
    const Variant variants[] = {
        {"A", e.action_a, e.text_a, e.mb_kind_a, "mb_kind_a"},
        {"B", e.action_b, e.text_b, e.mb_kind_b, "mb_kind_b"},
    };
    for (const Variant& v : variants) check_text(out, t, i, v);
    for (const Variant& v : variants) check_actions(out, t, i, v);
    // A note: the report's info text decides whether such an error is archived (report
    // processing's archive decision reads action 16's second digit).
    for (const Variant& v : variants) {
        if ((e.flags & EF_ARCHIVE) == 0 || v.action != ACT_API_TWO_INFO) continue;
        add(out, t, i, "archive-16",
            std::string("action ") + v.name +
                " 16 with EF_ARCHIVE: archived only when the info text's second digit after "
                "its last \"$\" is not 0 (a missing digit counts as 0)");
        out.back().note = true;
    }
}

// Numbers defined more than once among the registered tables: the registry's lookup names the
// entry that wins, every other one is never reached.
std::map<EntryKey, Sink> check_duplicates(const std::vector<Table>& tables) {
    std::map<std::uint16_t, std::vector<EntryKey>> by_number;
    for (std::size_t t = 0; t < tables.size(); ++t) {
        if (tables[t].outcome != Outcome::registered) continue;
        for (std::size_t i = 0; i < tables[t].count; ++i)
            by_number[tables[t].entries[i].id].push_back({t, i});
    }
    std::map<EntryKey, Sink> found;
    for (const auto& [number, keys] : by_number) {
        if (keys.size() < 2) continue;
        const ErrTableEntry* winner = E_FindErrTablebyId(number);
        EntryKey win{};
        for (const EntryKey& k : keys)
            if (&tables[k.first].entries[k.second] == winner) win = k;
        const Table& wt = tables[win.first];
        for (const EntryKey& k : keys) {
            if (k == win) continue;
            Sink& sink = found[k];
            if (wt.own && !tables[k.first].own) {
                add(sink, k.first, k.second, "shadowed-by-own",
                    "never reached: the error module's own number " + std::to_string(number) +
                        " (" + location(wt, win.second) + ") is found first");
            } else {
                add(sink, k.first, k.second, "duplicate",
                    "never reached: " + location(wt, win.second) + " (module " +
                        std::to_string(wt.module) + ") is found first");
            }
        }
    }
    return found;
}

void check_table(Sink& out, const std::vector<Table>& tables, std::size_t t) {
    const Table& table = tables[t];
    const std::string module = "module number " + std::to_string(table.module);
    switch (table.outcome) {
        case Outcome::registered:
            break;
        case Outcome::out_of_range:
            add(out, t, std::nullopt, "module-out-of-range",
                module + " is out of range (0 to " + std::to_string(ERR_MODULE_COUNT - 1) +
                    "): the registry refuses the table, its numbers are never found");
            break;
        case Outcome::slot_taken:
            add(out, t, std::nullopt, "module-taken",
                module + " is taken" +
                    (table.taken_by ? " by a table from " + tables[*table.taken_by].source
                                    : std::string()) +
                    ": the registry refuses the table, its numbers are never found");
            break;
        case Outcome::null_table:
            add(out, t, std::nullopt, "null-table", "a null table: the registry refuses it");
            break;
        case Outcome::no_table:
            add(out, t, std::nullopt, "no-table",
                "registered no error table: its load-time entries never offered one to the "
                "registry (a missing constructor, or not a firmware module)");
            break;
        case Outcome::no_end_entry:
            add(out, t, std::nullopt, "no-end-entry",
                "no end entry (id 0xFFFF) within the table's memory: every walk of the "
                "registry would run past it; left out of the registry");
            break;
    }
}

}  // namespace

std::string quoted(const char* text) {
    std::string out = "\"";
    for (const char* p = text; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::vector<Finding> check_tables(const std::vector<Table>& tables, bool own_entries) {
    std::map<EntryKey, Sink> duplicates = check_duplicates(tables);
    Sink out;
    for (std::size_t t = 0; t < tables.size(); ++t) {
        const Table& table = tables[t];
        check_table(out, tables, t);
        if (table.outcome == Outcome::no_end_entry || table.outcome == Outcome::null_table ||
            table.outcome == Outcome::no_table)
            continue;
        for (std::size_t i = 0; i < table.count; ++i) {
            auto d = duplicates.find({t, i});
            if (d != duplicates.end()) out.insert(out.end(), d->second.begin(), d->second.end());
            if (!table.own || own_entries) check_entry(out, t, i, table.entries[i]);
        }
    }
    return out;
}

}  // namespace errtable
