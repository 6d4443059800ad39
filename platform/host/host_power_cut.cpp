// Host executive: the power cut, a test control that ends the process exactly at one
// file-changing call (before it, or after the first bytes of a write), and the trace of those
// calls. See rtx_host_power_cut in rtx_host.h.
#include "host_power_cut.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "rtx/rtx_host.h"

namespace rtx_host_detail {

namespace {

// Counting and tracing take this lock, so that the numbers follow the order of the calls in
// every thread and a trace line and its data stay together.
std::mutex g_mutex;
std::uint64_t g_calls = 0;
std::uint64_t g_cut_at = 0;  // 0: no cut armed
std::int64_t g_torn = -1;
int g_trace_fd = -1;
// Whether a cut or a trace is on: the calls of an unwatched process take no lock.
std::atomic<bool> g_watching{false};
std::atomic<std::uint64_t> g_unwatched_calls{0};

void update_watching() {
    g_watching.store(g_cut_at != 0 || g_trace_fd >= 0, std::memory_order_release);
}

void put_all(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

void put_all_at(int fd, const void* data, std::size_t size, off_t offset, bool append) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = append ? ::write(fd, p, size) : ::pwrite(fd, p, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        offset += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::string absolute(const char* path) {
    if (path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

std::string path_of_fd(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n <= 0) return "?";
    return std::string(target, static_cast<std::size_t>(n));
}

void trace(std::uint64_t number, const char* op, off_t offset, std::size_t length,
           const std::string& path, const void* data) {
    if (g_trace_fd < 0) return;
    std::string line = std::to_string(number) + " " + op + " " +
                       std::to_string(static_cast<long long>(offset)) + " " +
                       std::to_string(length) + " " + path + "\n";
    put_all(g_trace_fd, line.data(), line.size());
    if (data) put_all(g_trace_fd, data, length);
}

// Counts one call; true when the armed cut falls on it. Lock held.
bool count_call() {
    ++g_calls;
    return g_cut_at != 0 && g_calls == g_cut_at;
}

[[noreturn]] void cut() {
    ::_exit(RTX_HOST_POWER_CUT_EXIT);
}

// A call other than a write: counted, traced, and cut before when the cut falls on it.
void plain_call(const char* op, const std::string& path) {
    if (!g_watching.load(std::memory_order_acquire)) {
        g_unwatched_calls.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    std::lock_guard<std::mutex> lk(g_mutex);
    const bool cut_here = count_call();
    trace(g_calls, op, 0, 0, path, nullptr);
    if (cut_here) cut();
}

}  // namespace

void power_cut_open(const char* host_path, bool truncate) {
    plain_call(truncate ? "truncate" : "create",
               g_watching.load() ? absolute(host_path) : std::string());
}

void power_cut_rename(const char* host_from, const char* host_to) {
    plain_call("rename", g_watching.load() ? absolute(host_from) + " -> " + absolute(host_to)
                                           : std::string());
}

void power_cut_remove(const char* host_path) {
    plain_call("remove", g_watching.load() ? absolute(host_path) : std::string());
}

void power_cut_write(int fd, const void* data, std::size_t size, off_t offset, bool append) {
    if (!g_watching.load(std::memory_order_acquire)) {
        g_unwatched_calls.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    std::lock_guard<std::mutex> lk(g_mutex);
    const bool cut_here = count_call();
    if (g_trace_fd >= 0) {
        const off_t at = append ? ::lseek(fd, 0, SEEK_END) : offset;
        trace(g_calls, "write", at, data ? size : 0, path_of_fd(fd), data);
    }
    if (cut_here) {
        if (g_torn >= 0 && data) {
            const std::size_t part =
                static_cast<std::uint64_t>(g_torn) < size ? static_cast<std::size_t>(g_torn) : size;
            put_all_at(fd, data, part, offset, append);
        }
        cut();
    }
}

}  // namespace rtx_host_detail

using namespace rtx_host_detail;

void rtx_host_power_cut(uint64_t call, int64_t torn_bytes) {
    std::lock_guard<std::mutex> lk(g_mutex);
    g_calls += g_unwatched_calls.exchange(0);
    g_cut_at = call;
    g_torn = torn_bytes;
    update_watching();
}

int rtx_host_power_trace(const char* host_path) {
    std::lock_guard<std::mutex> lk(g_mutex);
    g_calls += g_unwatched_calls.exchange(0);
    if (g_trace_fd >= 0) ::close(g_trace_fd);
    g_trace_fd = -1;
    if (host_path) {
        do {
            g_trace_fd = ::open(host_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        } while (g_trace_fd < 0 && errno == EINTR);
        if (g_trace_fd < 0) {
            update_watching();
            return -1;
        }
    }
    update_watching();
    return 0;
}

uint64_t rtx_host_file_changes(void) {
    std::lock_guard<std::mutex> lk(g_mutex);
    return g_calls + g_unwatched_calls.load();
}
