#include "merge.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

namespace errlog {

namespace {

namespace fs = std::filesystem;

bool is_log_name(const fs::path& p) {
    std::string ext = p.extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".log";
}

// Sortable key of an entry's stamp, none when it cannot be read.
std::optional<long long> key_of(const Entry& e) {
    Stamp t;
    if (!parse_stamp(e, t)) return std::nullopt;
    return ((((t.year * 100LL + t.month) * 100 + t.day) * 100 + t.hour) * 100 + t.minute) * 100 +
           t.second;
}

std::string pad(std::string s, std::size_t width) {
    if (s.size() < width) s.append(width - s.size(), ' ');
    return s;
}

}  // namespace

bool list_logs(const std::string& path, std::vector<std::string>& out, bool& folder,
               std::string& error) {
    std::error_code ec;
    folder = fs::is_directory(path, ec);
    if (!folder) {
        out.push_back(path);
        return true;
    }
    std::vector<std::string> found;
    fs::recursive_directory_iterator it(path, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec) && is_log_name(it->path())) found.push_back(it->path());
    }
    if (ec) {
        error = ec.message();
        return false;
    }
    std::sort(found.begin(), found.end());
    out.insert(out.end(), found.begin(), found.end());
    return true;
}

std::vector<const Entry*> in_log_order(const Log& log) {
    std::vector<const Entry*> out;
    for (const Entry& e : log.errors) out.push_back(&e);
    if (log.overflow_entry) out.push_back(&*log.overflow_entry);
    return out;
}

std::vector<Merged> merge_newest_first(const std::vector<const Log*>& logs) {
    std::vector<std::vector<const Entry*>> lists;
    std::size_t total = 0;
    for (const Log* log : logs) {
        lists.push_back(in_log_order(*log));
        total += lists.back().size();
    }
    std::vector<std::size_t> next(lists.size(), 0);
    std::vector<Merged> out;
    while (out.size() < total) {
        std::optional<std::size_t> best;
        long long best_key = 0;
        for (std::size_t i = 0; i < lists.size(); ++i) {
            if (next[i] == lists[i].size()) continue;
            const std::optional<long long> key = key_of(*lists[i][next[i]]);
            if (!key) {
                best = i;
                break;
            }
            if (!best || *key > best_key) {
                best = i;
                best_key = *key;
            }
        }
        out.push_back(Merged{*best, lists[*best][next[*best]]});
        ++next[*best];
    }
    return out;
}

std::vector<std::string> format_merged(const std::vector<std::string>& names,
                                       const std::vector<Merged>& merged) {
    std::size_t width = 3;  // "log"
    for (const Merged& m : merged) width = std::max(width, names[m.log].size());
    // The rows of a single log start with two blanks; the log's name goes in front of them.
    std::vector<std::string> lines{"  " + pad("log", width) + std::string(kRowsHeading)};
    if (merged.empty()) lines.push_back("  (no errors)");
    for (const Merged& m : merged)
        lines.push_back("  " + pad(names[m.log], width) + format_row(*m.entry));
    return lines;
}

}  // namespace errlog
