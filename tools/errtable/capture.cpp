#include "capture.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdint>
#include <optional>

#include "own_table.h"
#include "registry.h"
#include "symbols.h"

namespace errtable {

namespace {

Capture* g_capture = nullptr;

struct Extent {
    std::uintptr_t at;
    std::uintptr_t end = 0;  // end of the loaded segment that holds at, 0 when none does
};

int find_segment(struct dl_phdr_info* info, std::size_t, void* data) {
    auto* extent = static_cast<Extent*>(data);
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD) continue;
        const std::uintptr_t start = info->dlpi_addr + ph.p_vaddr;
        if (extent->at >= start && extent->at < start + ph.p_memsz) {
            extent->end = start + ph.p_memsz;
            return 1;
        }
    }
    return 0;
}

// How many whole entries from table on may be read: up to the end of the loaded segment that
// holds it (a module's table lives in its data), never more than kMaxTableEntries.
std::size_t readable_entries(const ErrTableEntry* table) {
    Extent extent{reinterpret_cast<std::uintptr_t>(table)};
    dl_iterate_phdr(find_segment, &extent);
    if (extent.end == 0) return kMaxTableEntries;
    const std::size_t n = (extent.end - extent.at) / sizeof(ErrTableEntry);
    return n < kMaxTableEntries ? n : kMaxTableEntries;
}

// The number of entries before the end entry, none when there is none among the first limit
// entries. The walk reads past the table's own array when the end entry is missing: finding
// that out is its purpose, and limit keeps it inside the memory that holds the table. So the
// address sanitizer is not asked to watch these reads.
__attribute__((no_sanitize("address"))) std::optional<std::size_t> find_end(
    const ErrTableEntry* table, std::size_t limit) {
    for (std::size_t i = 0; i < limit; ++i)
        if (table[i].id == ERR_TABLE_END) return i;
    return std::nullopt;
}

}  // namespace

Capture::Capture() {
    g_capture = this;
    err::set_registration_watcher(&Capture::watch);
}

Capture::~Capture() {
    err::set_registration_watcher(nullptr);
    g_capture = nullptr;
}

bool Capture::watch(std::uint16_t module, const ErrTableEntry* table) {
    if (g_capture == nullptr) return true;
    Offer offer;
    offer.table.source = g_capture->source_.empty() ? "(unknown)" : g_capture->source_;
    if (g_capture->lines_) offer.table.lines = *g_capture->lines_;
    offer.table.module = module;
    offer.table.entries = table;
    if (table != nullptr) {
        const std::optional<std::size_t> end = find_end(table, readable_entries(table));
        offer.ended = end.has_value();
        offer.table.count = end.value_or(0);
    }
    const bool walkable = table == nullptr || offer.ended;
    if (!walkable) offer.table.outcome = Outcome::no_end_entry;
    g_capture->offers_.push_back(std::move(offer));
    return walkable;
}

bool Capture::load_module(const std::string& path, std::string& error) {
    source_ = path;
    lines_ = nullptr;
    const std::string p = path.find('/') == std::string::npos ? "./" + path : path;
    const std::size_t offered_before = offers_.size();
    // Never closed: the tables stay where the registry points until errtable ends.
    void* handle = dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
    source_.clear();
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = reason ? reason : "unknown reason";
        return false;
    }
    if (offers_.size() == offered_before) {
        Offer none;
        none.table.source = path;
        none.table.outcome = Outcome::no_table;
        offers_.push_back(std::move(none));
    }
    for (std::size_t i = offered_before; i < offers_.size(); ++i)
        if (offers_[i].table.entries != nullptr)
            offers_[i].table.symbol = symbol_at(offers_[i].table.entries);
    return true;
}

void Capture::register_script(const std::string& name, const errsim::ScriptTables& tables) {
    source_ = name;
    for (const auto& t : tables.tables()) {
        std::vector<int> lines;
        for (const auto& e : t.def->entries) lines.push_back(e.line);
        lines_ = &lines;
        E_RegisterErrorTable(t.def->module, t.entries);
        lines_ = nullptr;
    }
    source_.clear();
}

std::vector<Table> Capture::tables() const {
    std::vector<Table> out;
    std::optional<std::size_t> holder[ERR_MODULE_COUNT];
    // The module's own table registered when errtable started, before anything was watched.
    ErrTableEntry* own = err::own_error_table();
    const auto own_module = static_cast<std::uint16_t>(err::kOwnModule);
    if (err::registered_table(own_module) == own) {
        Table t;
        t.source = "liberr";
        t.own = true;
        t.module = own_module;
        t.entries = own;
        while (own[t.count].id != ERR_TABLE_END) ++t.count;
        holder[own_module] = out.size();
        out.push_back(std::move(t));
    }
    // The others in the order offered: the first table that the registry took for a module
    // number holds the slot, every later one for that number was refused.
    for (const Offer& offer : offers_) {
        Table t = offer.table;
        if (t.outcome != Outcome::no_end_entry && t.outcome != Outcome::no_table) {
            if (t.entries == nullptr) {
                t.outcome = Outcome::null_table;
            } else if (t.module >= ERR_MODULE_COUNT) {
                t.outcome = Outcome::out_of_range;
            } else if (!holder[t.module] && err::registered_table(t.module) == t.entries) {
                t.outcome = Outcome::registered;
                holder[t.module] = out.size();
            } else {
                t.outcome = Outcome::slot_taken;
                t.taken_by = holder[t.module];
            }
        }
        out.push_back(std::move(t));
    }
    return out;
}

}  // namespace errtable
