// The names that a loaded file's symbol table gives to addresses in it, so that a finding can
// name a module's table as its source code does.
#pragma once

#include <string>

namespace errtable {

// The name of the data object that starts exactly at address, from the symbol table of the
// loaded file (module) that holds it, or from its dynamic symbol table when the file carries no
// full one (stripped). Empty when the address is in no loaded file or no symbol starts there.
std::string symbol_at(const void* address);

}  // namespace errtable
