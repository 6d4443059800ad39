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

// Drops what only the file's bytes needed: the bytes, and each entry's raw record.
void release_bytes(Log& log) {
    std::vector<std::uint8_t>().swap(log.bytes);
    for (Entry& e : log.errors) std::vector<std::uint8_t>().swap(e.raw);
    if (log.overflow_entry) std::vector<std::uint8_t>().swap(log.overflow_entry->raw);
}

void select_entries(FleetLog& f, const Filter& filter) {
    const std::size_t n = f.log.errors.size() + (f.log.overflow_entry ? 1 : 0);
    f.entries.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        FleetEntry e{static_cast<std::uint16_t>(i), std::nullopt};
        const Entry& entry = f.entry(e);
        e.key = stamp_key(entry);
        if (filter.passes(entry, e.key)) f.entries.push_back(e);
    }
}

}  // namespace

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
        f.log = inspect_log(std::move(file.bytes), file.length);
        file.bytes = std::vector<std::uint8_t>();
        f.state = f.log.valid() ? LogState::valid : LogState::corrupt;
        release_bytes(f.log);
        if (f.state == LogState::valid && options.entries) select_entries(f, options.filter);
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
    }
    return fleet;
}

}  // namespace errlog
