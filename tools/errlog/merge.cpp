// The k-way merge of the logs' entries, newest first: a heap of the logs' next entries.
#include <algorithm>

#include "fleet.h"

namespace errlog {

NewestFirst::NewestFirst(const std::vector<FleetLog>& logs) : logs_(logs) {
    heap_.reserve(logs.size());
    for (std::size_t i = 0; i < logs.size(); ++i)
        if (!logs[i].entries.empty()) push(static_cast<std::uint32_t>(i), 0);
}

bool NewestFirst::after(const Head& a, const Head& b) {
    if (a.dated != b.dated) return a.dated;  // an undated entry goes out first
    if (a.dated && a.key != b.key) return a.key < b.key;
    return a.log > b.log;
}

void NewestFirst::push(std::uint32_t log, std::uint32_t entry) {
    const FleetEntry& e = logs_[log].entries[entry];
    heap_.push_back(Head{e.dated, e.key, log, entry});
    std::push_heap(heap_.begin(), heap_.end(), after);
}

bool NewestFirst::next(MergedRef& out) {
    if (heap_.empty()) return false;
    std::pop_heap(heap_.begin(), heap_.end(), after);
    const Head h = heap_.back();
    heap_.pop_back();
    out = MergedRef{h.log, h.entry};
    if (h.entry + 1 < logs_[h.log].entries.size()) push(h.log, h.entry + 1);
    return true;
}

std::vector<MergedRef> merged_entries(const Fleet& fleet, const Filter& filter) {
    std::vector<MergedRef> out;
    NewestFirst merge(fleet.logs);
    MergedRef m;
    while ((!filter.newest || out.size() < *filter.newest) && merge.next(m)) out.push_back(m);
    if (filter.reverse) std::reverse(out.begin(), out.end());
    return out;
}

}  // namespace errlog
