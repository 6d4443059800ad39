// The table registry's internal entry points.
#pragma once

#include <cstdint>

#include "err/err_table.h"

namespace err {

// First-use preparation: clears the 20 slots the first time only, so that tables registered
// before (the module's own table, at load) stay registered.
void registry_prepare();

// The table in the slot of module, or null when the slot is empty or module is 20 or more.
ErrTableEntry* registered_table(std::uint16_t module);

// Counts the changes of the registry: a table registered or removed. A lookup made while it
// held a value stays right until it changes: the error numbers of a registered table are fixed
// while it is registered (a module that renumbers its entries removes the table and registers
// it again; its state words change at any time and are always read afresh).
std::uint32_t registry_generation();

// A watcher sees every registration before the registry looks at the table and says whether
// the registry may go on (false: E_RegisterErrorTable returns at once; nothing is printed or
// changed). The error-table checker sets one so that it sees each table first and can keep a
// table without its end entry from being walked; the module itself never sets one. Null: none.
using RegistrationWatcher = bool (*)(std::uint16_t module, const ErrTableEntry* table);
void set_registration_watcher(RegistrationWatcher watcher);

}  // namespace err
