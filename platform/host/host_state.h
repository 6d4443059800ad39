// Internal state of the host executive, shared by its source files: host_segments.cpp (global
// segments), host_messages.cpp (mailboxes, catalog, messages and responses), host_tasks.cpp
// (tasks, semaphores and the blocking waits), host_controls.cpp (reset, faults, counters) and
// host_io.cpp (INI files, console, files). Everything lives in one leaky singleton so that the
// executive can be used from library constructors, before main, and is never torn down at exit
// while task threads may still run.
//
// What every report passes through takes no common lock: the catalog is read from an immutable
// table published with one atomic pointer, a segment id names its slot in an array, a segment
// comes from the calling thread's cache of freed ones, a mailbox is a queue that senders append
// to with one atomic exchange, and a sender wakes a receiver only when one sleeps. Everything
// else (creating mailboxes, tasks and semaphores, faults armed, files, the INI reader) is
// guarded by the one mutex m, and semaphores and suspended tasks wait on its condition variable.
#ifndef RTX_HOST_STATE_H
#define RTX_HOST_STATE_H

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "rtx/rtx_host.h"

// AddressSanitizer builds (g++ and clang): pooled segments marked for the sanitizer.
#if defined(__SANITIZE_ADDRESS__)
#define RTX_HOST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RTX_HOST_SANITIZED 1
#endif
#endif

// Builds whose sanitizer watches every byte read (AddressSanitizer, ThreadSanitizer): no reads
// past a text's end, not even the aligned ones that stay inside the text's page.
#if defined(RTX_HOST_SANITIZED) || defined(__SANITIZE_THREAD__)
#define RTX_HOST_EXACT_READS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RTX_HOST_EXACT_READS 1
#endif
#endif

// Nothing of the executive's inside is seen outside the library, so that its own calls are
// direct and may be inlined.
#pragma GCC visibility push(hidden)

namespace rtx_host_detail {

constexpr uint32_t kMaxIds = 65535;              // ids are 16-bit and never 0
constexpr uint32_t kDefaultSegmentLimit = 4096;  // segments alive at once
constexpr uint32_t kMaxSegmentSize = 64u << 20;  // a larger request is refused (RTX_E_NOMEM)
// Freed segments of up to 4096 bytes are kept for reuse, by size class (64, 128, ... 4096
// bytes): first in a small cache of the thread that freed them, then in a shared depot of up to
// kSpareBytesPerClass of buffers in each class (at least kMinSparePerClass segments), so that a
// message costs no heap allocation and no change of the address map, while the pool stays
// bounded (under 4 MiB in all). Sanitizer builds keep none: there a freed segment is returned
// to the heap, so that a use after free is still caught.
constexpr uint32_t kSpareClasses = 7;
constexpr uint32_t kSmallestSpareClass = 64;
constexpr size_t kSpareBytesPerClass = 512u << 10;
constexpr size_t kMinSparePerClass = 256;
// How long an allocation that finds the pool exhausted gives way to the threads that free
// segments before it fails.
constexpr auto kGiveWay = std::chrono::milliseconds(1);
// The executive's root path, as the instrument's executive gives it: a drive, with no folder
// name and no "." in it. The host folder stands for that drive.
constexpr const char* kDefaultRootPath = "D:";
// queued of a segment freed while it waited on a mailbox: it stays linked in the mailbox's
// queue, without an id, until a receiver passes it by.
constexpr uint32_t kCancelled = 0xFFFFFFFFu;

struct Segment {
    uint8_t* data = nullptr;  // owned: new[] of capacity bytes
    uint32_t size = 0;
    uint32_t capacity = 0;  // bytes of data (a pooled buffer may be larger than size)
    // 0 while the segment waits in a cache of freed segments (or is linked but cancelled).
    std::atomic<uint16_t> id{0};
    // Mailbox the segment waits on, 0 when not queued, kCancelled when freed while queued.
    std::atomic<uint32_t> queued{0};
    std::atomic<Segment*> next{nullptr};  // the next segment in a mailbox's queue
    bool answered = false;                // send_response has answered the request in it
    int line = 0;
    const char* file = "";  // allocation origin, for leak diagnostics (the caller's text)
    ~Segment() { delete[] data; }
};

// A mailbox: a first-in first-out queue of segments linked through Segment::next. Senders
// append with one atomic exchange of tail; receivers take from head one at a time under m. A
// receiver that finds it empty counts itself in waiters before it sleeps on cv, and a sender
// looks at waiters after it appended: only then does it take m and wake the sleepers.
struct Mailbox {
    alignas(64) std::atomic<Segment*> tail;  // the newest segment, or stub
    std::atomic<uint64_t> pushed{0};         // segments appended so far
    alignas(64) std::mutex m;                // receivers
    std::condition_variable cv;
    Segment* head;                                 // the next segment to hand out, or stub
    std::atomic<uint64_t> taken{0};                // handed out or cancelled so far
    alignas(64) std::atomic<uint32_t> waiters{0};  // threads asleep in _rtx_getmessage on it
    std::atomic<bool> wake_sent{false};            // a sender wakes the sleepers already
    Segment stub;                                  // the empty queue's node
    Mailbox() : tail(&stub), head(&stub) {}
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

// Counters of one operation, on a cache line of their own.
struct alignas(64) OpCounters {
    std::atomic<uint64_t> calls{0};
    std::atomic<uint64_t> failed{0};
    std::atomic<bool> armed{false};  // a fault is pending (its details in State::faults)
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

// The catalog as lookups read it: an immutable copy, replaced as a whole when a name is
// entered.
struct CatalogEntry {
    std::string name;
    uint64_t head;  // the name's first 8 bytes (fewer, zero-padded, in a shorter name)
    uint16_t id;
};
using CatalogTable = std::vector<CatalogEntry>;

// Freed segments of one size class shared between threads.
struct Depot {
    std::mutex m;
    std::vector<Segment*> spare;
};

// Has End(object) called when the calling thread ends: the executive's per-thread objects
// (segment caches, call counters, file records) are reached through their own initial-exec TLS
// pointers, and this gives back what a thread leaves. One key per End.
template <void (*End)(void*)>
void at_thread_end(void* object) {
    static pthread_key_t key;
    static pthread_once_t once = PTHREAD_ONCE_INIT;
    pthread_once(&once, [] { pthread_key_create(&key, End); });
    pthread_setspecific(key, object);
}

struct ThreadCalls;

struct State {
    std::mutex m;
    std::condition_variable cv;  // semaphores and suspended tasks wait on it
    std::atomic<bool> shutting_down{false};
    // Changed by every reset: caches of freed segments from before it are void.
    std::atomic<uint64_t> epoch{1};

    // ---- Segments ----
    std::unique_ptr<std::atomic<Segment*>[]> slots;  // index = id; null when free
    alignas(64) std::atomic<uint32_t> next_segment{0};
    alignas(64) std::atomic<uint32_t> segments_in_use{0};
    alignas(64) std::atomic<uint32_t> segments_peak{0};
    std::atomic<uint32_t> segment_limit{kDefaultSegmentLimit};
    // Threads that found the pool exhausted and give way until a segment is freed.
    alignas(64) std::atomic<uint32_t> pool_waiters{0};
    std::mutex pool_m;
    std::condition_variable pool_cv;
    Depot depots[kSpareClasses];
    // Every segment object that exists, by the start address of its data (pooled ones and
    // cancelled ones have id 0): the registry that reset frees and send_response searches.
    std::mutex address_m;
    std::map<uintptr_t, Segment*> segment_by_address;

    // ---- Mailboxes and catalog ----
    std::unique_ptr<std::atomic<Mailbox*>[]> mailbox_table;  // index = id; id 1 is the first
    std::atomic<uint32_t> mailbox_count{0};
    std::vector<std::unique_ptr<Mailbox>> mailboxes;  // owner, index = id - 1; lock held
    // key: the name's characters as bytes; std::less<> finds a name without copying it
    std::map<std::string, uint16_t, std::less<>> catalog;  // lock held
    std::atomic<const CatalogTable*> catalog_view{nullptr};
    std::vector<std::unique_ptr<CatalogTable>> catalog_views;  // every one published; lock held

    std::vector<std::unique_ptr<Semaphore>> semaphores;
    std::vector<std::unique_ptr<Task>> tasks;
    std::vector<InitFunction> inits;

    OpCounters ops[RTX_OP_COUNT];
    Fault faults[RTX_OP_COUNT];  // lock held
    std::mutex calls_m;          // the list of every thread's counters
    ThreadCalls* thread_calls = nullptr;

    std::map<uint16_t, std::unique_ptr<IniFile>> ini_files;
    uint16_t next_ini = 1;

    std::string root = ".";  // the host folder
    // Changed with root (lock held), never back to an earlier value: a host path mapped under
    // this serial was mapped under today's root.
    std::atomic<uint64_t> root_serial{1};
    std::string root_path = kDefaultRootPath;  // what rtx_get_root_path gives
    std::string ini_dir;                       // empty: the root
};

// The singleton; created on first use, never destroyed.
State& make_state();
extern std::atomic<State*> g_state;
inline State& state() {
    State* s = g_state.load(std::memory_order_acquire);
    return s ? *s : make_state();
}

// Counts a call of op and returns the status of an injected fault, or 0. Lock held.
uint16_t take_fault(State& s, rtx_host_op op);
// take_fault for a call counted already, taking the lock itself.
[[gnu::noinline, gnu::cold]] uint16_t take_armed_fault(State& s, rtx_host_op op);

// Calls counted by the thread that makes them, for the calls that take no lock (file seek, read
// and write make several per log operation): the one thread that writes a counter adds to it
// with a load and a store, no locked instruction. rtx_host_get_counters adds up every thread's
// counts beyond what they were at the last reset, and those of the threads that ended
// (State::ops).
struct ThreadCalls {
    std::atomic<uint64_t> calls[RTX_OP_COUNT] = {};
    std::atomic<uint64_t> at_reset[RTX_OP_COUNT] = {};  // calls when the executive was reset
    ThreadCalls* next = nullptr;                        // every thread's, listed under calls_m
};
extern __thread ThreadCalls* t_calls __attribute__((tls_model("initial-exec")));
// The calling thread's counters, set up on its first call.
[[gnu::noinline]] ThreadCalls& new_thread_calls(State& s);
inline void count_call(State& s, rtx_host_op op) {
    ThreadCalls* c = t_calls;
    if (__builtin_expect(!c, 0)) c = &new_thread_calls(s);
    std::atomic<uint64_t>& n = c->calls[op];
    n.store(n.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

// The same as take_fault without the lock: it is taken only when a fault is armed for op.
inline uint16_t take_fault_unlocked(State& s, rtx_host_op op) {
    count_call(s, op);
    if (__builtin_expect(s.ops[op].armed.load(std::memory_order_relaxed), 0))
        return take_armed_fault(s, op);
    return 0;
}
// Counts a real failure of op (with or without the lock).
inline void note_failure(State& s, rtx_host_op op) {
    s.ops[op].failed.fetch_add(1, std::memory_order_relaxed);
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

// The first 8 bytes of a name of length n (the bytes past a shorter one read as zeros).
inline uint64_t name_head(const char* chars, size_t n) {
    uint64_t head = 0;
    if (n >= 8)
        __builtin_memcpy(&head, chars, 8);
    else
        for (size_t k = 0; k < n; ++k)
            head |= static_cast<uint64_t>(static_cast<unsigned char>(chars[k])) << (8 * k);
    return head;
}

// The characters of a counted name, without a copy.
inline std::string_view counted_view(const char* name) {
    return std::string_view(name + 1, static_cast<unsigned char>(name[0]));
}

// The live segment with this id, or null.
inline Segment* find_segment(State& s, uint16_t id) {
    return id == 0 ? nullptr : s.slots[id].load(std::memory_order_acquire);
}

inline Mailbox* find_mailbox(State& s, uint16_t id) {
    if (id == 0 || id > s.mailbox_count.load(std::memory_order_acquire)) return nullptr;
    return s.mailbox_table[id].load(std::memory_order_acquire);
}

inline Semaphore* find_semaphore(State& s, uint16_t id) {
    if (id == 0 || id > s.semaphores.size()) return nullptr;
    return s.semaphores[id - 1].get();
}

// ---- Segments (host_segments.cpp); no lock needed ----

// A new segment of size bytes, reading as zeros; RTX_E_NOMEM when the pool is exhausted (at
// once: the executive's own allocations do not give way).
uint16_t alloc_segment(State& s, uint32_t size, const char* file, int line, uint16_t* out);
// Frees segment id (taking it off its mailbox when queued); RTX_E_BAD_ID for an unknown one.
uint16_t free_segment(State& s, uint16_t id);
// Gives a segment object without an id back to the pool (a cancelled one a receiver met).
void recycle_segment(State& s, Segment* seg);
// The segment holding address and the offset of address in it, or 0.
uint16_t segment_at(State& s, const void* address, uint32_t* offset);
// The segment that the calling thread received last and still holds (0: none): segment_at
// looks at it before the address map, since a receiver answers the message it holds. Cleared
// when the thread frees or sends it.
extern __thread uint16_t t_received __attribute__((tls_model("initial-exec")));
inline void forget_received(uint16_t id) {
    if (t_received == id) t_received = 0;
}
// Wakes the threads that give way at an exhausted pool (shutdown).
void wake_pool_waiters(State& s);
// Frees every segment object and empties the pool (part of rtx_host_reset; no other thread
// may use the executive meanwhile).
void reset_segments(State& s);

// ---- Catalog and mailboxes (host_messages.cpp) ----

// Enters name under id in the catalog; false when the name is taken. Lock held.
bool enter_name(State& s, const std::string& name, uint16_t id);
// Takes name out of the catalog. Lock held.
void remove_name(State& s, const std::string& name);

// Wakes every thread asleep on a mailbox (shutdown). Lock held.
void wake_mailbox_sleepers(State& s);

// ---- Tasks and the blocking waits (host_tasks.cpp) ----

// The task that runs on the calling thread; null on a thread that is not a task.
// constinit: no thread-local initialisation function is needed (and clang references none,
// which a hidden symbol in a shared library could not satisfy).
extern thread_local constinit Task* current_task;

// A task thread that meets the shutdown in a blocking call ends here. The lock is released
// first; pthread_exit unwinds the thread's frames, so no executive lock stays held.
[[noreturn]] void end_task_thread(Lock& lk);

// Time limit of a blocking call: no limit, or a number of milliseconds (0: do not wait).
struct WaitLimit {
    bool forever;
    uint32_t ms;
};

// The blocking wait of semaphores and suspension (lock held): returns RTX_OK as soon as
// ready() holds, RTX_E_TIMEOUT when the limit runs out first, and RTX_E_SHUTDOWN on a thread
// that is not a task once the executive shuts down (what is ready is still handed out first).
// A task thread that meets the shutdown while it would wait ends in it and never returns.
// Receiving on a mailbox follows the same rules with a wait of its own (host_messages.cpp).
template <typename Ready>
uint16_t block_until(State& s, Lock& lk, WaitLimit limit, Ready ready) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit.forever ? 0 : limit.ms);
    for (;;) {
        const bool down = s.shutting_down.load();
        if (down && (limit.forever || limit.ms != 0) && current_task) end_task_thread(lk);
        if (ready()) return RTX_OK;
        if (!limit.forever && (limit.ms == 0 || Clock::now() >= deadline)) return RTX_E_TIMEOUT;
        if (down) return RTX_E_SHUTDOWN;
        if (limit.forever)
            s.cv.wait(lk);
        else
            s.cv.wait_until(lk, deadline);
    }
}

}  // namespace rtx_host_detail

#pragma GCC visibility pop

#endif
