// The module's own error table, registered under module number 1 at load.
#pragma once

#include <cstddef>

#include "err/err_table.h"

namespace err {

constexpr unsigned kOwnModule = 1;
constexpr std::size_t kOwnTableEntries = 39;  // end entry included

// First entry of the table (kOwnTableEntries entries, the last one the end entry).
ErrTableEntry* own_error_table();

}  // namespace err
