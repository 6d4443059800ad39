// errtable's output: one line a finding, or one JSON object (docs/errtable.md).
#pragma once

#include <string>
#include <vector>

#include "tables.h"

namespace errtable {

// "LOCATION: module M: number N: RULE: MESSAGE" (no number for a finding about a whole table).
std::string finding_line(const std::vector<Table>& tables, const Finding& finding);

// "errtable: N tables, N entries, N findings": the tables checked (the own table only when its
// entries are, as with --own; a module without a table is no table) and their entries.
std::string summary_line(const std::vector<Table>& tables, const std::vector<Finding>& findings,
                         bool own_entries);

// {"tables": [...], "findings": [...]}, indented by two.
std::string findings_json(const std::vector<Table>& tables, const std::vector<Finding>& findings);

}  // namespace errtable
