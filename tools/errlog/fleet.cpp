#include "fleet.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <utility>

#include "log_format.h"
#include "log_read.h"

namespace errlog {

namespace {

using err::LOG_FILE_SIZE;
using err::logfmt::kCodeWidth;
using err::logfmt::kDateWidth;
using err::logfmt::kTimeWidth;

bool is_backup_name(const std::string& path) {
    static const char kSuffix[] = ".bak";
    const std::size_t n = sizeof kSuffix - 1;
    if (path.size() <= n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(path[path.size() - n + i])) != kSuffix[i])
            return false;
    return path[path.size() - n - 1] != '/';
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string join(const std::string& folder, const char* name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

struct Found {
    std::vector<std::string> files;                               // not yet read
    std::vector<std::pair<std::string, std::string>> unreadable;  // folders, with the reason
};

// Every file below folder (subfolders too, links to folders not followed), by kind.
void walk_folder(const std::string& folder, Fleet& fleet, Found& found) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        found.unreadable.emplace_back(folder, std::strerror(errno));
        return;
    }
    while (const dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
        std::string path = join(folder, d->d_name);
        unsigned char type = d->d_type;
        struct stat st;
        if (type == DT_UNKNOWN) {  // the file system does not say: ask
            if (::lstat(path.c_str(), &st) != 0) {
                fleet.skipped.push_back({path, std::strerror(errno)});
                continue;
            }
            type = S_ISDIR(st.st_mode)   ? DT_DIR
                   : S_ISREG(st.st_mode) ? DT_REG
                   : S_ISLNK(st.st_mode) ? DT_LNK
                                         : DT_UNKNOWN;
        }
        if (type == DT_LNK) {  // a link to a file counts; a link to a folder is not followed
            if (::stat(path.c_str(), &st) != 0) {
                fleet.skipped.push_back({path, std::strerror(errno)});
                continue;
            }
            if (S_ISDIR(st.st_mode)) {
                fleet.skipped.push_back({path, "a link to a folder (not followed)"});
                continue;
            }
            type = S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            walk_folder(path, fleet, found);
        } else if (type != DT_REG) {
            fleet.skipped.push_back({path, "not a regular file"});
        } else if (is_backup_name(path)) {
            fleet.backups.push_back(std::move(path));
        } else {
            found.files.push_back(std::move(path));
        }
    }
    ::closedir(dir);
}

void pack(FleetLog& f, const EntryFields& e, const Filter& filter) {
    const std::optional<long long> key = stamp_key(e.date, e.time);
    if (!filter.passes(e, key)) return;
    FleetEntry p;
    p.key = key.value_or(0);
    p.dated = key.has_value();
    p.overflow = e.overflow;
    p.record = e.record;
    p.code = e.code_value;
    p.at = static_cast<std::uint32_t>(f.pool.size());
    // Each field is at most its width in the record, so that its size fits a byte.
    p.text_size = static_cast<std::uint8_t>(e.text.size());
    p.component_size = static_cast<std::uint8_t>(e.component.size());
    p.file_size = static_cast<std::uint8_t>(e.file.size());
    p.line_size = static_cast<std::uint8_t>(e.line.size());
    f.pool.append(e.code).append(e.date).append(e.time);
    f.pool.append(e.text).append(e.component).append(e.file).append(e.line);
    f.entries.push_back(p);
}

// Keeps of a checked log only what the fleet needs: its numbers, and for a valid log with
// entries asked for, the entries that pass the filter, packed.
void keep_entries(FleetLog& f, const FleetOptions& options) {
    if (f.state == LogState::valid && options.entries) {
        f.pool.reserve(f.log.error_count * 64);
        visit_entries(f.log, [&](const std::uint8_t* r, std::uint16_t n, bool overflow) {
            pack(f, record_fields(r, n, overflow), options.filter);
        });
        f.entries.shrink_to_fit();
        f.pool.shrink_to_fit();
    }
    std::vector<std::uint8_t>().swap(f.log.bytes);
}

}  // namespace

EntryFields FleetLog::fields(const FleetEntry& p) const {
    EntryFields e;
    e.record = p.record;
    e.overflow = p.overflow;
    e.code_value = p.code;
    const char* at = pool.data() + p.at;
    auto take = [&](std::size_t n) {
        std::string_view s(at, n);
        at += n;
        return s;
    };
    e.code = take(kCodeWidth);
    e.date = take(kDateWidth);
    e.time = take(kTimeWidth);
    e.text = take(p.text_size);
    e.component = take(p.component_size);
    e.file = take(p.file_size);
    e.line = take(p.line_size);
    return e;
}

Entry FleetLog::entry(const FleetEntry& p) const {
    return entry_of(fields(p));
}

std::size_t Fleet::count(LogState state) const {
    return static_cast<std::size_t>(std::count_if(
        logs.begin(), logs.end(), [&](const FleetLog& l) { return l.state == state; }));
}

Fleet load_fleet(const std::vector<std::string>& args, const FleetOptions& options) {
    Fleet fleet;
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen;  // device, inode
    FileRead file;
    // Reads one file; a file found in a folder that holds no log is skipped.
    auto take = [&](const std::string& path, bool named) {
        FleetLog f;
        f.path = path;
        f.folder = folder_of(path);
        if (!read_bounded(path, LOG_FILE_SIZE, file)) {
            f.error = file.error;
            fleet.logs.push_back(std::move(f));
            return true;
        }
        if (!seen.emplace(file.device, file.inode).second) {
            fleet.repeats.push_back(path);
            return false;
        }
        if (!named && !holds_log_header(file.bytes.data(), file.bytes.size())) {
            fleet.skipped.push_back({path, "not a log"});
            return false;
        }
        f.log = inspect_log(std::move(file.bytes), file.length, false);
        file.bytes = std::vector<std::uint8_t>();
        f.state = f.log.valid() ? LogState::valid : LogState::corrupt;
        keep_entries(f, options);
        fleet.logs.push_back(std::move(f));
        return true;
    };
    for (const std::string& arg : args) {
        struct stat st;
        if (::stat(arg.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            take(arg, true);
            continue;
        }
        Found found;
        const std::size_t backups_before = fleet.backups.size();
        const std::size_t skipped_before = fleet.skipped.size();
        walk_folder(arg, fleet, found);
        std::sort(found.files.begin(), found.files.end());
        bool any = false;
        for (const auto& [path, reason] : found.unreadable) {
            FleetLog f;
            f.path = path;
            f.folder = path;
            f.error = reason;
            fleet.logs.push_back(std::move(f));
            any = true;
        }
        for (const std::string& path : found.files) any = take(path, false) || any;
        if (!any) fleet.empty_folders.push_back(arg);
        std::sort(fleet.backups.begin() + static_cast<std::ptrdiff_t>(backups_before),
                  fleet.backups.end());
        std::sort(fleet.skipped.begin() + static_cast<std::ptrdiff_t>(skipped_before),
                  fleet.skipped.end(),
                  [](const Fleet::Skipped& a, const Fleet::Skipped& b) { return a.path < b.path; });
    }
    return fleet;
}

}  // namespace errlog
