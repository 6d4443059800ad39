// errtable's output: one line a finding, or one JSON object (docs/errtable.md).
#pragma once

#include <string>
#include <vector>

#include "tables.h"

namespace errtable {

// "LOCATION: module M: number N: RULE: MESSAGE" (no number for a finding about a whole table).
std::string finding_line(const std::vector<Table>& tables, const Finding& finding);

// {"tables": [...], "findings": [...]}, indented by two.
std::string findings_json(const std::vector<Table>& tables, const std::vector<Finding>& findings);

}  // namespace errtable
