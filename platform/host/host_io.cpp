// Host executive: root path and path mapping, file access, INI files, boot console and the
// executive's small text helpers.
#include <dirent.h>
#include <fcntl.h>
#include <ini.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "host_state.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Open (of a name this thread has mapped before), seek, read and write take no lock: their fault
// check and counters are the executive's lock-free ones (take_fault_unlocked), and a stream
// belongs to the one task that opened it.
//
// A file stream without a buffer of its own: every read and write is one positioned system
// call (pread, pwrite) at the stream's position, so a write has reached the file system when
// it returns, and a seek is only arithmetic. A log operation then costs one system call per
// record it reads or writes, plus the open and the close.
struct rtx_file {
    int fd;
    off_t position;  // where the next read or write starts
    bool append;     // "a" modes: every write goes to the end of the file
};

namespace rtx_host_detail {
namespace {

using Lock = std::unique_lock<std::mutex>;

// ---- Console ----------------------------------------------------------------------------

// Text kept for rtx_host_console_text; beyond it further text is still echoed and passed to
// the sink but no longer captured, so a long run cannot eat the host's memory.
constexpr size_t kCaptureLimit = 16u << 20;

struct Console {
    std::recursive_mutex m;  // recursive: a sink may print or read the capture itself
    bool echo = true;
    std::string text;
    rtx_host_console_sink sink = nullptr;
    void* context = nullptr;
};

Console& console() {
    static Console* c = new Console;
    return *c;
}

int console_vprint(const char* format, va_list args) {
    if (!format) return -1;
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) return -1;
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    const size_t len = static_cast<size_t>(n);
    Console& c = console();
    std::lock_guard<std::recursive_mutex> lk(c.m);
    if (c.echo) {
        std::fwrite(buf.data(), 1, len, stdout);
        std::fflush(stdout);
    }
    if (c.text.size() + len <= kCaptureLimit) c.text.append(buf.data(), len);
    if (c.sink) c.sink(buf.data(), len, c.context);
    return n;
}

// ---- Paths ------------------------------------------------------------------------------

// Backslashes become '/', and a run of separators becomes one ("\\LOG\\\\A" is "/LOG/A").
std::string slashes(const std::string& p) {
    std::string r;
    r.reserve(p.size());
    for (char ch : p) {
        if (ch == '\\') ch = '/';
        if (ch == '/' && !r.empty() && r.back() == '/') continue;
        r.push_back(ch);
    }
    return r;
}

// The root folder is a host path: any character that the host allows in a folder name, a
// backslash included, stays what it is; only separators at its end are dropped.
std::string normal_root(const std::string& root) {
    std::string r = root;
    while (r.size() > 1 && r.back() == '/') r.pop_back();
    return r.empty() ? std::string(".") : r;
}

// Executive paths become host paths here and only here:
// - backslashes of the executive path turn into '/' (the root folder's name is kept as it is);
// - a drive prefix such as "D:" is dropped: the host has one root folder for every drive;
// - the rest, with or without a leading separator, is taken below the root folder;
// - a path that holds a ".." step maps to nothing (the empty path, which no file operation
//   finds): a name that another task sends, such as an archive file name, can never reach a
//   file outside the root folder.
bool has_parent_step(const std::string& p) {
    std::size_t start = 0;
    while (start <= p.size()) {
        std::size_t end = p.find('/', start);
        if (end == std::string::npos) end = p.size();
        if (end - start == 2 && p.compare(start, 2, "..") == 0) return true;
        start = end + 1;
    }
    return false;
}

std::string map_exec_path(const std::string& root_folder, const char* exec) {
    const std::string root = normal_root(root_folder);
    std::string p = slashes(exec);
    if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':')
        p.erase(0, 2);
    if (has_parent_step(p)) return std::string();
    if (!p.empty() && p[0] == '/') p.erase(0, 1);
    if (p.empty()) return root;
    return root.back() == '/' ? root + p : root + "/" + p;
}

// Whether path names a directory. The file calls work on files only, as the instrument's file
// system does: a directory is never opened, removed or renamed through them.
bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool same_node(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether two host paths name one file, whether it exists or not: when either exists, they
// must reach the same node of the file system (so "LOG/./A" and "LOG//A" are "LOG/A", and so
// are links to it); when neither does, they must hold the same name in the same folder.
bool same_host_file(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    struct stat sa, sb;
    const bool has_a = ::stat(a.c_str(), &sa) == 0;
    const std::size_t cut_a = a.rfind('/'), cut_b = b.rfind('/');
    const std::string_view name_a =
        std::string_view(a).substr(cut_a == std::string::npos ? 0 : cut_a + 1);
    const std::string_view name_b =
        std::string_view(b).substr(cut_b == std::string::npos ? 0 : cut_b + 1);
    // A name that reaches no file is one file with another only when neither exists and both
    // hold the same name: with the names apart, b need not be looked at.
    if (!has_a && name_a != name_b) return false;
    const bool has_b = ::stat(b.c_str(), &sb) == 0;
    if (has_a || has_b) return has_a && has_b && same_node(sa, sb);
    const std::string folder_a = cut_a == std::string::npos ? "." : a.substr(0, cut_a + 1);
    const std::string folder_b = cut_b == std::string::npos ? "." : b.substr(0, cut_b + 1);
    if (::stat(folder_a.c_str(), &sa) == 0 && ::stat(folder_b.c_str(), &sb) == 0)
        return same_node(sa, sb);
    return a == b;
}

std::string current_root() {
    State& s = state();
    Lock lk(s.m);
    return s.root;
}

// A closed stream's record is kept for the next open on the same thread: every log operation
// opens and closes its log once. AddressSanitizer builds keep none, so that a stream used after
// its close is still caught there.
#if defined(__SANITIZE_ADDRESS__)
#define RTX_HOST_NO_SPARE_FILE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RTX_HOST_NO_SPARE_FILE 1
#endif
#endif

// The host paths that this thread mapped last, each with the root folder and the executive path
// it came from. Every log operation opens its log by the same name: the name is mapped on the
// first open and found here on every later one, until the root folder changes.
struct MappedPath {
    uint64_t root_serial = 0;  // State::root_serial when mapped (0: never)
    std::string exec;
    std::string host;
};
constexpr std::size_t kMappedPaths = 8;

// What a thread keeps between its file calls: its last closed stream and the paths it mapped.
// Reached through one pointer in the thread's static TLS block (as the segment caches are), so
// that an open or a close needs no lookup call; freed by a key destructor when the thread ends.
struct ThreadFiles {
    rtx_file* spare = nullptr;
    MappedPath mapped[kMappedPaths];
    std::size_t next_mapped = 0;
    std::size_t last_mapped = 0;  // the entry found last
    ~ThreadFiles() { delete spare; }
};
__thread ThreadFiles* t_files __attribute__((tls_model("initial-exec"))) = nullptr;

void thread_files_end(void* p) {
    t_files = nullptr;
    delete static_cast<ThreadFiles*>(p);
}

[[gnu::noinline]] ThreadFiles& new_thread_files() {
    t_files = new ThreadFiles;
    at_thread_end<thread_files_end>(t_files);
    return *t_files;
}

inline ThreadFiles& thread_files() {
    ThreadFiles* f = t_files;
    return __builtin_expect(f != nullptr, 1) ? *f : new_thread_files();
}

rtx_file* new_file(int fd, bool append) {
    ThreadFiles& t = thread_files();
    rtx_file* f = t.spare;
    if (!f) return new rtx_file{fd, 0, append};
    t.spare = nullptr;
    *f = rtx_file{fd, 0, append};
    return f;
}

void drop_file(rtx_file* file) {
#if !defined(RTX_HOST_NO_SPARE_FILE)
    ThreadFiles& t = thread_files();
    if (!t.spare) {
        t.spare = file;
        return;
    }
#endif
    delete file;
}

// What this thread mapped from exec under the root of serial, or null. The entry found last is
// looked at first: a log operation opens the log that the one before it opened.
const std::string* known_path(uint64_t serial, const char* exec) {
    ThreadFiles& t = thread_files();
    const MappedPath& last = t.mapped[t.last_mapped];
    if (last.root_serial == serial && std::strcmp(last.exec.c_str(), exec) == 0) return &last.host;
    for (std::size_t k = 0; k < kMappedPaths; ++k) {
        const MappedPath& m = t.mapped[k];
        if (m.root_serial == serial && std::strcmp(m.exec.c_str(), exec) == 0) {
            t.last_mapped = k;
            return &m.host;
        }
    }
    return nullptr;
}

// The host path of exec under the current root folder. Lock held. The reference stays valid
// until this thread maps kMappedPaths other paths.
const std::string& mapped_path_locked(const State& s, const char* exec) {
    const uint64_t serial = s.root_serial.load(std::memory_order_relaxed);
    if (const std::string* known = known_path(serial, exec)) return *known;
    ThreadFiles& t = thread_files();
    t.last_mapped = t.next_mapped;
    MappedPath& m = t.mapped[t.next_mapped];
    t.next_mapped = (t.next_mapped + 1) % kMappedPaths;
    m.root_serial = serial;
    m.exec = exec;
    m.host = map_exec_path(s.root, exec);
    return m.host;
}

// The same without the lock when this thread mapped exec under today's root already.
const std::string& mapped_path(State& s, const char* exec) {
    if (const std::string* known = known_path(s.root_serial.load(std::memory_order_acquire), exec))
        return *known;
    Lock lk(s.m);
    return mapped_path_locked(s, exec);
}

// ---- INI files --------------------------------------------------------------------------

std::string lower(const char* t) {
    std::string r(t ? t : "");
    for (char& ch : r) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return r;
}

// The first value of a key wins when a file names it twice.
int ini_entry(void* user, const char* section, const char* name, const char* value) {
    auto* file = static_cast<IniFile*>(user);
    if (!name) return 1;  // section start without keys
    file->sections[lower(section)].emplace(lower(name), value ? value : "");
    return 1;
}

// Opens file_name in folder; when no file has exactly that name, one whose name differs only
// in case is taken (configuration names are written in upper case on the instrument).
// A directory of that name is no configuration file and is not opened.
FILE* open_file_for_reading(const std::string& path) {
    return is_directory(path) ? nullptr : std::fopen(path.c_str(), "rb");
}

FILE* open_in_folder(const std::string& folder, const std::string& file_name) {
    const std::string dir = folder.empty() ? std::string(".") : folder;
    std::string path = dir + "/" + file_name;
    if (FILE* f = open_file_for_reading(path)) return f;
    DIR* d = opendir(dir.c_str());
    if (!d) return nullptr;
    FILE* found = nullptr;
    while (dirent* e = readdir(d)) {
        if (strcasecmp(e->d_name, file_name.c_str()) == 0) {
            found = open_file_for_reading(dir + "/" + e->d_name);
            if (found) break;
        }
    }
    closedir(d);
    return found;
}

constexpr size_t kMaxIniHandles = 1024;

// The open flags of an fopen mode ("rb", "r+b", "wb", "w+b", "ab", ...); false for a mode
// that fopen would refuse. "b" changes nothing on the host.
bool open_flags(const char* mode, int* flags, bool* append) {
    const bool plus = std::strchr(mode, '+') != nullptr;
    *append = false;
    switch (mode[0]) {
        case 'r':
            *flags = plus ? O_RDWR : O_RDONLY;
            break;
        case 'w':
            *flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
            break;
        case 'a':
            *flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
            *append = true;
            break;
        default:
            return false;
    }
    if (std::strchr(mode, 'x') && mode[0] == 'w') *flags |= O_EXCL;
    *flags |= O_CLOEXEC;
    return true;
}

}  // namespace

void reset_console() {
    Console& c = console();
    std::lock_guard<std::recursive_mutex> lk(c.m);
    c.echo = true;
    c.text.clear();
    c.text.shrink_to_fit();
    c.sink = nullptr;
    c.context = nullptr;
}

#if !defined(__SSE2__) || defined(RTX_HOST_EXACT_READS)
// The top bit of each byte of word that is '\\', '/' or ':', and no other bit. Exact for every
// byte (no borrow runs from one byte into the next).
inline uint64_t separator_bytes(uint64_t word) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full, kOnes = 0x0101010101010101ull;
    uint64_t found = 0;
    for (const uint64_t c : {uint64_t{'\\'}, uint64_t{'/'}, uint64_t{':'}}) {
        const uint64_t v = word ^ (c * kOnes);  // a zero byte where word holds c
        found |= ~(((v & kLow7) + kLow7) | v | kLow7);
    }
    return found;
}
#endif

}  // namespace rtx_host_detail

using namespace rtx_host_detail;

extern "C" {

/* ---- Root path and set-up ---------------------------------------------------------------- */

void rtx_host_set_root(const char* host_folder) {
    State& s = state();
    Lock lk(s.m);
    s.root = host_folder && *host_folder ? host_folder : ".";
    s.root_serial.fetch_add(1);
}

// Valid until the root is set again.
const char* rtx_host_root(void) {
    State& s = state();
    Lock lk(s.m);
    return s.root.c_str();
}

void rtx_host_set_ini_dir(const char* host_folder) {
    State& s = state();
    Lock lk(s.m);
    s.ini_dir = host_folder ? host_folder : "";
}

void rtx_host_set_root_path(const char* exec_root) {
    State& s = state();
    Lock lk(s.m);
    s.root_path = exec_root ? exec_root : kDefaultRootPath;
}

// Every path kind (which) gives the same executive root. The host folder is never part of it,
// so the folder's own name (dots, blanks, a relative path) never enters an executive path.
void rtx_get_root_path(int, char* buffer) {
    if (!buffer) return;
    State& s = state();
    Lock lk(s.m);
    const size_t n = s.root_path.size() < 259 ? s.root_path.size() : 259;
    std::memcpy(buffer, s.root_path.data(), n);
    buffer[n] = '\0';
}

int rtx_map_path(const char* exec_path, char* buffer, size_t size) {
    if (!exec_path || !buffer || size == 0) return -1;
    const std::string host = map_exec_path(current_root(), exec_path);
    if (host.empty() || host.size() + 1 > size) {
        buffer[0] = '\0';
        return -1;
    }
    std::memcpy(buffer, host.c_str(), host.size() + 1);
    return 0;
}

/* ---- Files ------------------------------------------------------------------------------ */

rtx_file* rtx_file_open(const char* path, const char* mode) {
    int flags = 0;
    bool append = false;
    const bool known_mode = mode && open_flags(mode, &flags, &append);
    // The fault check and the counters are the lock-free ones; the lock is taken only to map a
    // name that this thread has not mapped under today's root.
    State& s = state();
    if (take_fault_unlocked(s, RTX_OP_FILE_OPEN)) return nullptr;
    if (!path || !mode) {
        note_failure(s, RTX_OP_FILE_OPEN);
        return nullptr;
    }
    const std::string* host = known_mode ? &mapped_path(s, path) : nullptr;  // this thread's own
    int fd = -1;
    if (host) {
        do {
            fd = ::open(host->c_str(), flags, 0666);
        } while (fd < 0 && errno == EINTR);
        // A directory opens read-only on the host; the instrument's file system refuses it in
        // every mode, and so does this call. Opened for writing, the host refuses it itself.
        struct stat st;
        if (fd >= 0 && (flags & O_ACCMODE) == O_RDONLY &&
            (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        note_failure(s, RTX_OP_FILE_OPEN);
        return nullptr;
    }
    return new_file(fd, append);
}

// As fseek: a position before the start of the file fails; one past its end is allowed.
int rtx_file_seek(rtx_file* file, long offset, int whence) {
    State& s = state();
    if (take_fault_unlocked(s, RTX_OP_FILE_SEEK)) return -1;
    if (file) {
        off_t base = -1;
        struct stat st;
        if (whence == SEEK_SET) {
            base = 0;
        } else if (whence == SEEK_CUR) {
            base = file->position;
        } else if (whence == SEEK_END && ::fstat(file->fd, &st) == 0) {
            base = st.st_size;
        }
        if (base >= 0 && (offset >= 0 ? base <= std::numeric_limits<off_t>::max() - offset
                                      : base + offset >= 0)) {
            file->position = base + offset;
            return 0;
        }
    }
    note_failure(s, RTX_OP_FILE_SEEK);
    return -1;
}

long rtx_file_tell(rtx_file* file) {
    if (!file || file->position > std::numeric_limits<long>::max()) return -1L;
    return static_cast<long>(file->position);
}

size_t rtx_file_read(rtx_file* file, void* buffer, size_t size) {
    State& s = state();
    if (take_fault_unlocked(s, RTX_OP_FILE_READ)) return 0;
    size_t n = 0;
    if (file && buffer) {
        auto* p = static_cast<uint8_t*>(buffer);
        while (n < size) {
            const ssize_t got = ::pread(file->fd, p + n, size - n, file->position);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;  // the end of the file, or an error
            n += static_cast<size_t>(got);
            file->position += got;
        }
    }
    if (n < size) note_failure(s, RTX_OP_FILE_READ);
    return n;
}

// Judged when the bytes have reached the file system: the stream keeps no buffer, so a write
// that returns has been handed over whole (or reports how much was).
size_t rtx_file_write(rtx_file* file, const void* buffer, size_t size) {
    State& s = state();
    if (take_fault_unlocked(s, RTX_OP_FILE_WRITE)) return 0;
    size_t n = 0;
    if (file && buffer) {
        const auto* p = static_cast<const uint8_t*>(buffer);
        while (n < size) {
            // An append stream writes at the end whatever its position, as fopen's "a" does.
            const ssize_t put = file->append ? ::write(file->fd, p + n, size - n)
                                             : ::pwrite(file->fd, p + n, size - n, file->position);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) break;
            n += static_cast<size_t>(put);
            file->position += put;
        }
        if (file->append) {
            const off_t end = ::lseek(file->fd, 0, SEEK_CUR);
            if (end >= 0) file->position = end;
        }
    }
    if (n < size) note_failure(s, RTX_OP_FILE_WRITE);
    return n;
}

int rtx_file_close(rtx_file* file) {
    if (!file) return -1;
    const int rc = ::close(file->fd);
    drop_file(file);
    return rc == 0 ? 0 : -1;
}

// unlink, not remove: a directory is not deleted.
int rtx_file_remove(const char* path) {
    if (!path) return -1;
    return ::unlink(map_exec_path(current_root(), path).c_str()) == 0 ? 0 : -1;
}

int rtx_file_rename(const char* from, const char* to) {
    State& s = state();
    {
        Lock lk(s.m);
        if (take_fault(s, RTX_OP_FILE_RENAME)) return -1;
    }
    if (from && to) {
        const std::string root = current_root();
        const std::string host_from = map_exec_path(root, from);
        if (!is_directory(host_from) &&
            std::rename(host_from.c_str(), map_exec_path(root, to).c_str()) == 0)
            return 0;
    }
    Lock lk(s.m);
    note_failure(s, RTX_OP_FILE_RENAME);
    return -1;
}

int rtx_file_same(const char* path_a, const char* path_b) {
    if (!path_a || !path_b) return 0;
    // a's host path is copied before b is mapped: mapping b takes the thread's oldest entry,
    // which may be the one a was found in.
    std::string host_a;
    std::string host_b;
    {
        State& s = state();
        Lock lk(s.m);
        host_a = mapped_path_locked(s, path_a);
        host_b = mapped_path_locked(s, path_b);
    }
    return same_host_file(host_a, host_b) ? 1 : 0;
}

/* ---- INI files -------------------------------------------------------------------------- */

// The file is looked up by its name part in the INI folder. Lines that the parser cannot read
// are skipped; the rest of the file still counts.
int ini_file_read(uint16_t* out_handle, const char* file_name) {
    State& s = state();
    std::string folder;
    {
        Lock lk(s.m);
        if (out_handle) *out_handle = 0;
        uint16_t st = take_fault(s, RTX_OP_INI_READ);
        if (st) return st;
        if (!out_handle || !file_name || s.ini_files.size() >= kMaxIniHandles) {
            note_failure(s, RTX_OP_INI_READ);
            return RTX_E_BAD_ID;
        }
        folder = s.ini_dir.empty() ? s.root : s.ini_dir;
    }
    const char* name = file_name;
    EVcut_path(&name);
    auto file = std::make_unique<IniFile>();
    FILE* fp = *name ? open_in_folder(folder, name) : nullptr;
    int rc = fp ? ini_parse_file(fp, ini_entry, file.get()) : -1;
    if (fp) std::fclose(fp);
    Lock lk(s.m);
    if (rc < 0) {
        note_failure(s, RTX_OP_INI_READ);
        return RTX_E_NOT_FOUND;
    }
    uint16_t id = s.next_ini;
    while (id == 0 || s.ini_files.count(id)) ++id;
    s.next_ini = static_cast<uint16_t>(id + 1);
    s.ini_files[id] = std::move(file);
    *out_handle = id;
    return 0;
}

int ini_file_get(uint16_t handle, const char* section, const char* key, char** out_text) {
    if (out_text) *out_text = nullptr;
    if (!section || !key || !out_text) return -1;
    State& s = state();
    Lock lk(s.m);
    auto f = s.ini_files.find(handle);
    if (f == s.ini_files.end()) return -1;
    auto sec = f->second->sections.find(lower(section));
    if (sec == f->second->sections.end()) return 1;
    auto val = sec->second.find(lower(key));
    if (val == sec->second.end()) return 1;
    *out_text = val->second.data();
    return 0;
}

void ini_file_free(uint16_t handle) {
    State& s = state();
    Lock lk(s.m);
    s.ini_files.erase(handle);
}

/* ---- Console ---------------------------------------------------------------------------- */

int boot_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = console_vprint(format, args);
    va_end(args);
    return n;
}

// The host console prints every level.
int rtx_boot_printf(int, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = console_vprint(format, args);
    va_end(args);
    return n;
}

void rtx_host_console_echo(int on) {
    Console& c = console();
    std::lock_guard<std::recursive_mutex> lk(c.m);
    c.echo = on != 0;
}

const char* rtx_host_console_text(void) {
    Console& c = console();
    std::lock_guard<std::recursive_mutex> lk(c.m);
    return c.text.c_str();
}

void rtx_host_console_clear(void) {
    Console& c = console();
    std::lock_guard<std::recursive_mutex> lk(c.m);
    c.text.clear();
}

void rtx_host_set_console_sink(rtx_host_console_sink sink, void* context) {
    Console& c = console();
    std::lock_guard<std::recursive_mutex> lk(c.m);
    c.sink = sink;
    c.context = context;
}

/* ---- Text helpers ----------------------------------------------------------------------- */

// The name part starts after the last '\\', '/' or ':'.
void EVcut_path(const char** path) {
    if (!path || !*path) return;
    const char* text = *path;
#if defined(__SSE2__) && !defined(RTX_HOST_EXACT_READS)
    // Sixteen characters at a time, in aligned blocks: a block never reaches into another page,
    // so reading the whole block around the text's start and end is safe.
    const auto misalign = static_cast<unsigned>(reinterpret_cast<uintptr_t>(text) & 15u);
    const char* block = text - misalign;
    const __m128i nul = _mm_setzero_si128(), backslash = _mm_set1_epi8('\\'),
                  slash = _mm_set1_epi8('/'), colon = _mm_set1_epi8(':');
    unsigned before = (1u << misalign) - 1u;  // bytes of the first block ahead of the text
    for (;; block += 16, before = 0) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
        const unsigned end =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, nul))) & ~before;
        unsigned cut = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
                           _mm_or_si128(_mm_cmpeq_epi8(v, backslash), _mm_cmpeq_epi8(v, slash)),
                           _mm_cmpeq_epi8(v, colon)))) &
                       ~before;
        if (end) cut &= (end & (0u - end)) - 1u;  // only the separators ahead of the end
        if (cut) *path = block + (31 - __builtin_clz(cut)) + 1;
        if (end) return;
    }
#else
    size_t end = std::strlen(text);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // From the end, eight characters at a time.
    for (; end >= 8; end -= 8) {
        uint64_t word;
        std::memcpy(&word, text + end - 8, 8);
        if (const uint64_t found = separator_bytes(word)) {
            // The highest marked byte is the last separator of the eight.
            *path = text + end - 8 + (63 - __builtin_clzll(found)) / 8 + 1;
            return;
        }
    }
#endif
    for (; end > 0; --end)
        if (text[end - 1] == '\\' || text[end - 1] == '/' || text[end - 1] == ':') {
            *path = text + end;
            return;
        }
#endif
}

// Unbounded, like the executive's own: the caller's buffer must hold the result.
int VSPRINTF(char* buffer, const char* format, va_list args) {
    return std::vsprintf(buffer, format, args);
}

}  // extern "C"
