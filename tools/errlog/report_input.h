// What `errlog report` puts on its page: the logs that show's selection and filters give, as
// the page's plain model (report_page.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "filter.h"
#include "fleet.h"
#include "report_page.h"

namespace errlog {

// A log's kind by its file name: the module's default names of the system and the user log (in
// any case); any other name is another log.
LogKind log_kind_of(std::string_view path);

// The filter as the user asked for it, in show's option words ("" when none).
std::string describe_filter(const Filter& filter);

// The page's input: every log of the fleet that could be read (unreadable files as lines), its
// backups, and the merged entries refs in their order. Its entries view the fleet's texts: the
// fleet must outlive it.
ReportInput fleet_report(const Fleet& fleet, const std::vector<MergedRef>& refs,
                         const Filter& filter, std::string title);

}  // namespace errlog
