// Internal state of the host executive, shared by its source files: host_segments.cpp (global
// segments), host_messages.cpp (mailboxes, catalog, messages and responses), host_tasks.cpp
// (tasks, semaphores and the one blocking wait), host_controls.cpp (reset, faults, counters)
// and host_io.cpp (INI files, console, files). Everything lives in one leaky singleton so that
// the executive can be used from library constructors, before main, and is never torn down at
// exit while task threads may still run. One mutex guards the whole state and one condition
// variable carries every wake-up; the executive is small and correctness beats throughput.
#ifndef RTX_HOST_STATE_H
#define RTX_HOST_STATE_H

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "rtx/rtx_host.h"

namespace rtx_host_detail {

constexpr uint32_t kMaxIds = 65535;              // ids are 16-bit and never 0
constexpr uint32_t kDefaultSegmentLimit = 4096;  // segments alive at once
constexpr uint32_t kMaxSegmentSize = 64u << 20;  // a larger request is refused (RTX_E_NOMEM)
// Freed segments of up to 4096 bytes are kept for reuse, by size class (64, 128, ... 4096
// bytes), up to kSpareBytesPerClass of buffers in each class (at least kMinSparePerClass
// segments), so that a message costs no heap allocation and no change of the address map,
// while the pool stays bounded (under 4 MiB in all). Sanitizer builds keep none: there a freed
// segment is returned to the heap, so that a use after free is still caught.
constexpr uint32_t kSpareClasses = 7;
constexpr uint32_t kSmallestSpareClass = 64;
constexpr size_t kSpareBytesPerClass = 512u << 10;
constexpr size_t kMinSparePerClass = 256;
// The executive's root path, as the instrument's executive gives it: a drive, with no folder
// name and no "." in it. The host folder stands for that drive.
constexpr const char* kDefaultRootPath = "D:";

struct Segment {
    std::unique_ptr<uint8_t[]> data;
    uint32_t size = 0;
    uint32_t capacity = 0;  // bytes of data (a pooled buffer may be larger than size)
    uint16_t id = 0;        // 0 while the segment waits in the pool of freed segments
    std::string file;       // allocation origin, for leak diagnostics
    int line = 0;
    bool answered = false;   // send_response has answered the request in it
    uint16_t queued_on = 0;  // mailbox it waits on, 0 when not queued
};

struct Mailbox {
    std::deque<uint16_t> queue;
    uint32_t waiters = 0;  // threads blocked in _rtx_getmessage on it
};

struct Semaphore {
    uint32_t count = 0;
    uint32_t maximum = 0;
};

struct Task {
    std::string name;  // catalog name without its length byte
    uint16_t id = 0;
    void (*start)(void) = nullptr;
    pthread_t thread{};
    bool started = false;    // the thread exists and must be joined
    bool joined = false;     // joined (or being joined) by rtx_host_shutdown
    bool finished = false;   // the body returned or the thread ended in shutdown
    bool suspended = false;  // blocked in rtx_suspendtask
    bool resume = false;     // rtx_host_resume_task was called while suspended
};

struct Fault {
    uint32_t skip = 0;
    uint32_t count = 0;
    uint16_t status = 0;
};

struct IniFile {
    // lower-case section -> lower-case key -> value
    std::map<std::string, std::map<std::string, std::string>> sections;
};

struct InitFunction {
    void (*fn)(void);
    std::string text;
    bool done;
};

struct State {
    std::mutex m;
    std::condition_variable cv;  // every wait of the executive (messages, semaphores, resume)
    bool shutting_down = false;

    std::vector<std::unique_ptr<Segment>> segments;  // index = id
    // Start address of the data of every live or pooled segment (pooled ones have id 0).
    std::map<uintptr_t, Segment*> segment_by_address;
    std::vector<std::unique_ptr<Segment>> spare[kSpareClasses];
    uint32_t segment_limit = kDefaultSegmentLimit;
    uint32_t next_segment = 1;
    uint64_t segments_in_use = 0;
    uint64_t segments_peak = 0;

    std::vector<std::unique_ptr<Mailbox>> mailboxes;  // index = id - 1
    std::vector<std::unique_ptr<Semaphore>> semaphores;
    std::vector<std::unique_ptr<Task>> tasks;
    // key: the name's characters as bytes; std::less<> finds a name without copying it
    std::map<std::string, uint16_t, std::less<>> catalog;
    std::vector<InitFunction> inits;

    Fault faults[RTX_OP_COUNT];
    uint64_t calls[RTX_OP_COUNT] = {};
    uint64_t failed[RTX_OP_COUNT] = {};

    std::map<uint16_t, std::unique_ptr<IniFile>> ini_files;
    uint16_t next_ini = 1;

    std::string root = ".";                    // the host folder
    std::string root_path = kDefaultRootPath;  // what rtx_get_root_path gives
    std::string ini_dir;                       // empty: the root
};

// The singleton; created on first use, never destroyed.
State& state();

// Counts a call of op and returns the status of an injected fault, or 0. Lock held.
uint16_t take_fault(State& s, rtx_host_op op);
// Counts a real failure of op. Lock held.
inline void note_failure(State& s, rtx_host_op op) {
    ++s.failed[op];
}

// Clears the console, its echo and sink (part of rtx_host_reset).
void reset_console();

using Lock = std::unique_lock<std::mutex>;
using Clock = std::chrono::steady_clock;

inline void put(rtx_status* status, uint16_t value) {
    if (status) status->status = value;
}

inline std::string counted(const char* name) {
    if (!name) return std::string();
    return std::string(name + 1, static_cast<unsigned char>(name[0]));
}

// The characters of a counted name, without a copy.
inline std::string_view counted_view(const char* name) {
    return std::string_view(name + 1, static_cast<unsigned char>(name[0]));
}

inline Segment* find_segment(State& s, uint16_t id) {
    return id == 0 ? nullptr : s.segments[id].get();
}

inline Mailbox* find_mailbox(State& s, uint16_t id) {
    if (id == 0 || id > s.mailboxes.size()) return nullptr;
    return s.mailboxes[id - 1].get();
}

inline Semaphore* find_semaphore(State& s, uint16_t id) {
    if (id == 0 || id > s.semaphores.size()) return nullptr;
    return s.semaphores[id - 1].get();
}

// ---- Segments (host_segments.cpp); lock held ----

// A new segment of size bytes, reading as zeros; RTX_E_NOMEM when the pool is exhausted.
uint16_t alloc_locked(State& s, uint32_t size, const char* file, int line, uint16_t* out);
// Frees segment id (taking it off its mailbox when queued); RTX_E_BAD_ID for an unknown one.
uint16_t free_locked(State& s, uint16_t id);
// The segment holding address and the offset of address in it, or 0.
uint16_t segment_at(State& s, const void* address, uint32_t* offset);

// ---- Tasks and the blocking wait (host_tasks.cpp) ----

// The task that runs on the calling thread; null on a thread that is not a task.
extern thread_local Task* current_task;

// A task thread that meets the shutdown in a blocking call ends here. The lock is released
// first; pthread_exit unwinds the thread's frames, so no executive lock stays held.
[[noreturn]] void end_task_thread(Lock& lk);

// Time limit of a blocking call: no limit, or a number of milliseconds (0: do not wait).
struct WaitLimit {
    bool forever;
    uint32_t ms;
};

// The one blocking wait of the executive (lock held): returns RTX_OK as soon as ready()
// holds, RTX_E_TIMEOUT when the limit runs out first, and RTX_E_SHUTDOWN on a thread that is
// not a task once the executive shuts down (what is ready is still handed out first). A task
// thread that meets the shutdown while it would wait ends in it and never returns. sleepers,
// when given, counts the thread while it sleeps.
template <typename Ready>
uint16_t block_until(State& s, Lock& lk, WaitLimit limit, Ready ready,
                     uint32_t* sleepers = nullptr) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit.forever ? 0 : limit.ms);
    for (;;) {
        if (s.shutting_down && (limit.forever || limit.ms != 0) && current_task)
            end_task_thread(lk);
        if (ready()) return RTX_OK;
        if (!limit.forever && (limit.ms == 0 || Clock::now() >= deadline)) return RTX_E_TIMEOUT;
        if (s.shutting_down) return RTX_E_SHUTDOWN;
        if (sleepers) ++*sleepers;
        if (limit.forever)
            s.cv.wait(lk);
        else
            s.cv.wait_until(lk, deadline);
        if (sleepers) --*sleepers;
    }
}

}  // namespace rtx_host_detail

#endif
