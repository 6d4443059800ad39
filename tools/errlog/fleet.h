// Many logs at once, as a service engineer pulls them from a fleet: which files of the
// FILE|FOLDER arguments are logs, each read once and checked, the entries that pass a filter,
// and all of them merged newest first in time linear in the entries. `show`, `verify`,
// `stats` and `report` select and merge their logs through this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "filter.h"
#include "log_view.h"

namespace errlog {

enum class LogState {
    valid,
    corrupt,     // a log that breaks a rule of the module's validity test
    unreadable,  // a named file or folder that cannot be read, with the reason
};

// One entry of a log that passed the filter, packed: its fields lie in the FleetLog's pool
// (FleetLog::fields and FleetLog::entry read them), so that a fleet's entries take little more
// memory than their texts.
struct FleetEntry {
    long long key = 0;         // stamp_key, when dated
    bool dated = false;        // false: the date or time cannot be read
    bool overflow = false;     // the overflow marker
    std::uint16_t record = 0;  // the record's number
    std::uint16_t code = 0;    // the error code's value
    std::uint32_t at = 0;      // where its fields start in the pool: code, date, time (as
                               // stored), then text, component, file and line (trimmed)
    std::uint8_t text_size = 0, component_size = 0, file_size = 0, line_size = 0;
};

struct FleetLog {
    std::string path;    // as named on the command line, or a folder argument joined with the
                         // file's path inside it
    std::string folder;  // the instrument folder: the folder that holds the file ("." when
                         // path names no folder)
    LogState state = LogState::unreadable;
    std::string error;  // unreadable: why (strerror: "Permission denied", "Is a directory")
    Log log;  // read and checked (not unreadable); without its bytes, its errors (error_count
              // says how many) and its overflow marker's raw record
    std::vector<FleetEntry> entries;  // valid: those that pass the filter, in the log's order
                                      // (errors newest first, then the overflow marker)
    std::string pool;                 // the entries' fields

    // The entry's fields, as views into the pool (valid while this FleetLog lives unchanged).
    EntryFields fields(const FleetEntry& e) const;
    // The same as an Entry (without the raw record).
    Entry entry(const FleetEntry& e) const;
};

struct Fleet {
    std::vector<FleetLog> logs;        // in argument order; a folder's logs in path order
    std::vector<std::string> backups;  // .BAK files met in folders (not read; see salvage)
    struct Skipped {
        std::string path;
        std::string reason;  // "not a log", "not a regular file (a FIFO)", ...
    };
    std::vector<Skipped> skipped;            // other files in folders, left out
    std::vector<std::string> empty_folders;  // folder arguments holding no log
    std::vector<std::string> repeats;        // files met again (by any spelling or link): read once

    std::size_t count(LogState state) const;
};

struct FleetOptions {
    Filter filter;
    bool entries = true;  // false: check the logs only (verify); no entries are kept
};

// Reads the logs that args name. A FILE is taken as a log whatever it holds (a corrupt one is
// reported as corrupt); in a FOLDER (searched with its subfolders) a file counts as a log when
// it starts with a log's header record (holds_log_header), whatever its name; `.BAK` files are
// counted in backups instead, other files in skipped. One file (same device and inode) met
// twice is read once, where first met. Each file is read with read_bounded, at most one byte
// more than a log; only the checked log and its entries are kept, not its bytes.
Fleet load_fleet(const std::vector<std::string>& args, const FleetOptions& options);

// An entry in the merged order: the log's index in Fleet::logs and the entry's index in its
// FleetLog::entries.
struct MergedRef {
    std::uint32_t log;
    std::uint32_t entry;
};

// The entries of the valid logs merged newest first, one at a time, at log K cost per entry
// for K logs. Each log keeps its own order; the next entry is the newest of the logs' next
// entries (equal times: the log that comes first), and an entry whose date or time cannot be
// read goes out as soon as it is next in its log.
class NewestFirst {
  public:
    explicit NewestFirst(const std::vector<FleetLog>& logs);
    // The next entry; false when all are out.
    bool next(MergedRef& out);

  private:
    struct Head {
        bool dated;
        long long key;
        std::uint32_t log;
        std::uint32_t entry;
    };
    void push(std::uint32_t log, std::uint32_t entry);
    static bool after(const Head& a, const Head& b);  // a goes out after b
    const std::vector<FleetLog>& logs_;
    std::vector<Head> heap_;
};

// The merged entries as the filter asks for them: newest first, the first `newest` of them
// when set, and the whole list turned round with reverse (oldest first).
std::vector<MergedRef> merged_entries(const Fleet& fleet, const Filter& filter);

}  // namespace errlog
