// Several logs at once: the log files of a folder, and the errors of several logs in one list,
// newest first.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "log_view.h"

namespace errlog {

// Appends the log files that path names: path itself when it is not a folder; for a folder
// (folder set), every file in it or its subfolders whose name ends in ".log" in any case, in
// path order. False, with a reason, when the folder cannot be read.
bool list_logs(const std::string& path, std::vector<std::string>& out, bool& folder,
               std::string& error);

// A log's own order: its errors newest first along the error chain, then its overflow marker.
std::vector<const Entry*> in_log_order(const Log& log);

struct Merged {
    std::size_t log;  // index into the logs merged
    const Entry* entry;
};

// The entries of several valid logs in one list, newest first. Each log keeps its own order;
// the logs are interleaved by their stored dates and times: the next entry is the newest of
// the logs' next entries (equal times: the log given first), and an entry whose date or time
// cannot be read goes out as soon as it is next in its log.
std::vector<Merged> merge_newest_first(const std::vector<const Log*>& logs);

// The merged table: the rows of format_row, each led by the name of its log padded to the
// longest name, under a heading.
std::vector<std::string> format_merged(const std::vector<std::string>& names,
                                       const std::vector<Merged>& merged);

}  // namespace errlog
