// The rules errtable applies to the tables offered to the registry. Every rule takes its
// ground from the error module itself: the registry's lookup decides which definition of a
// number wins, the expansion and the text buffer of the error task decide what is cut, the
// log's field writer decides whether a component fits, the action table and the box code decide
// what an action and a box kind do.
#pragma once

#include <vector>

#include "tables.h"

namespace errtable {

// The findings, in order: table by table as offered; for each, first what concerns the whole
// table, then entry by entry (rules in the order of docs/errtable.md). The entries of the
// module's own table are checked only when own_entries is set; its numbers always count for
// the duplicate rules.
std::vector<Finding> check_tables(const std::vector<Table>& tables, bool own_entries);

// The text with C escapes for '"', '\\' and control bytes, in double quotes.
std::string quoted(const char* text);

}  // namespace errtable
