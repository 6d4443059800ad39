// Registry of error tables by module number (the messages call it the "DLL Id").
//
// No lock guards the registry: modules register from their load-time entries, and a lookup
// running at the same time as a registration sees the slot before or after the change. The
// slots are atomic pointers only so that such a lookup never reads a torn pointer.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "err/err_table.h"
#include "registry.h"
#include "rtx/rtx.h"

// The layout other modules compile against: five words, then five pointers, packed. With
// 32-bit pointers that is exactly the firmware's 30-byte record; on a 64-bit host the same
// order with native pointers.
namespace {
constexpr std::size_t kPtr = sizeof(void*);
}
static_assert(offsetof(ErrTableEntry, id) == 0);
static_assert(offsetof(ErrTableEntry, flags) == 2);
static_assert(offsetof(ErrTableEntry, state) == 4);
static_assert(offsetof(ErrTableEntry, action_a) == 6);
static_assert(offsetof(ErrTableEntry, action_b) == 8);
static_assert(offsetof(ErrTableEntry, text_a) == 10);
static_assert(offsetof(ErrTableEntry, text_b) == 10 + kPtr);
static_assert(offsetof(ErrTableEntry, component) == 10 + 2 * kPtr);
static_assert(offsetof(ErrTableEntry, mb_kind_a) == 10 + 3 * kPtr);
static_assert(offsetof(ErrTableEntry, mb_kind_b) == 10 + 4 * kPtr);
static_assert(sizeof(ErrTableEntry) == 10 + 5 * kPtr);
#if defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 4
static_assert(sizeof(ErrTableEntry) == 30 && offsetof(ErrTableEntry, mb_kind_b) == 26);
#endif

namespace err {

namespace {

// Zero at load (constant initialisation, so a registration from another library's load-time
// entry never finds them uninitialised).
std::atomic<ErrTableEntry*> g_slots[ERR_MODULE_COUNT];
std::atomic<std::uint16_t> g_initialised{0};
std::atomic<RegistrationWatcher> g_watcher{nullptr};
std::atomic<std::uint32_t> g_generation{0};

// Counted after the slot changed: a lookup that read the count before the change was made
// sees another count next time.
void count_change() {
    g_generation.fetch_add(1, std::memory_order_release);
}

// Module numbers are printed as signed 16-bit values: 32768 prints as -32768.
short as_dll_id(std::uint16_t module) {
    return static_cast<short>(module);
}

}  // namespace

void registry_prepare() {
    if (g_initialised.load(std::memory_order_acquire) == 0) {
        for (auto& slot : g_slots) slot.store(nullptr, std::memory_order_release);
        g_initialised.store(1, std::memory_order_release);
    }
}

ErrTableEntry* registered_table(std::uint16_t module) {
    if (module >= ERR_MODULE_COUNT) return nullptr;
    return g_slots[module].load(std::memory_order_acquire);
}

std::uint32_t registry_generation() {
    return g_generation.load(std::memory_order_acquire);
}

void set_registration_watcher(RegistrationWatcher watcher) {
    g_watcher.store(watcher, std::memory_order_release);
}

}  // namespace err

using err::g_slots;

extern "C" void E_RegisterErrorTable(uint16_t module, ErrTableEntry* table) {
    err::registry_prepare();
    const err::RegistrationWatcher watcher = err::g_watcher.load(std::memory_order_acquire);
    if (watcher != nullptr && !watcher(module, table)) return;
    if (module >= ERR_MODULE_COUNT) {
        rtx_boot_printf(1, "E_RegisterErrorTable(): DLL Id %hd out of range\n",
                        err::as_dll_id(module));
        return;
    }
    if (g_slots[module].load(std::memory_order_acquire) != nullptr) {
        rtx_boot_printf(1, "E_RegisterErrorTable(): DLL Id %hd entry allready used\n",
                        err::as_dll_id(module));
        return;
    }
    // A null table would make every later lookup walk through address 0; it is refused with
    // a text in the style of the other two, and the slot stays empty.
    if (table == nullptr) {
        rtx_boot_printf(1, "E_RegisterErrorTable(): DLL Id %hd null table\n",
                        err::as_dll_id(module));
        return;
    }
    for (ErrTableEntry* e = table; e->id != ERR_TABLE_END; ++e) e->state = ES_ALL;
    g_slots[module].store(table, std::memory_order_release);
    err::count_change();
}

extern "C" ErrTableEntry* E_FindErrTablebyId(uint16_t id) {
    for (auto& slot : g_slots) {
        ErrTableEntry* table = slot.load(std::memory_order_acquire);
        if (table == nullptr) continue;
        // The comparison comes before the end test: a search for ERR_TABLE_END finds the
        // end entry of the lowest registered table.
        for (ErrTableEntry* e = table;; ++e) {
            if (e->id == id) return e;
            if (e->id == ERR_TABLE_END) break;
        }
    }
    return nullptr;
}

extern "C" void E_RemoveErrorTable(uint16_t module) {
    if (module >= ERR_MODULE_COUNT) {
        rtx_boot_printf(1, "E_RemoveErrorTable(): DLL Id %hd out of range", err::as_dll_id(module));
        return;
    }
    g_slots[module].store(nullptr, std::memory_order_release);
    err::count_change();
}

extern "C" void E_enable_show_once_flag(int32_t selector) {
    const bool want_system = selector == 0;
    for (auto& slot : g_slots) {
        ErrTableEntry* table = slot.load(std::memory_order_acquire);
        if (table == nullptr) continue;
        for (ErrTableEntry* e = table; e->id != ERR_TABLE_END; ++e) {
            const bool is_system = (e->flags & EF_SYSTEM) != 0;
            if (is_system == want_system) e->state = static_cast<uint16_t>(e->state | ES_NOT_SHOWN);
        }
    }
}
