// Host executive: segments, mailboxes and catalog, responses, semaphores, tasks, start-up,
// shutdown, fault injection and counters. One mutex guards the whole state and one condition
// variable carries every wake-up; the executive is small and correctness beats throughput.
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "host_state.h"

namespace rtx_host_detail {

State& state() {
    static State* s = [] {
        State* n = new State;
        n->segments.resize(kMaxIds + 1);
        return n;
    }();
    return *s;
}

uint16_t take_fault(State& s, rtx_host_op op) {
    ++s.calls[op];
    Fault& f = s.faults[op];
    if (f.count == 0) return 0;
    if (f.skip > 0) {
        --f.skip;
        return 0;
    }
    --f.count;
    ++s.failed[op];
    return f.status;
}

namespace {

thread_local Task* current_task = nullptr;

using Lock = std::unique_lock<std::mutex>;
using Clock = std::chrono::steady_clock;

void put(rtx_status* status, uint16_t value) {
    if (status) status->status = value;
}

std::string counted(const char* name) {
    if (!name) return std::string();
    return std::string(name + 1, static_cast<unsigned char>(name[0]));
}

// The characters of a counted name, without a copy.
std::string_view counted_view(const char* name) {
    return std::string_view(name + 1, static_cast<unsigned char>(name[0]));
}

Segment* find_segment(State& s, uint16_t id) {
    return id == 0 ? nullptr : s.segments[id].get();
}

Mailbox* find_mailbox(State& s, uint16_t id) {
    if (id == 0 || id > s.mailboxes.size()) return nullptr;
    return s.mailboxes[id - 1].get();
}

Semaphore* find_semaphore(State& s, uint16_t id) {
    if (id == 0 || id > s.semaphores.size()) return nullptr;
    return s.semaphores[id - 1].get();
}

Task* find_task_by_name(State& s, const std::string& name) {
    for (auto& t : s.tasks)
        if (t->name == name && t->started && !t->finished) return t.get();
    return nullptr;
}

// A task thread that meets the shutdown in a blocking call ends here. The lock is released
// first; pthread_exit unwinds the thread's frames, so no executive lock stays held.
[[noreturn]] void end_task_thread(Lock& lk) {
    current_task->finished = true;
    current_task->suspended = false;
    lk.unlock();
    pthread_exit(nullptr);
}

// AddressSanitizer builds (g++ and clang) pool no segments.
#if defined(__SANITIZE_ADDRESS__)
#define RTX_HOST_NO_POOL 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RTX_HOST_NO_POOL 1
#endif
#endif

// Pool class of a data size (index into State::spare), or kSpareClasses when not pooled.
uint32_t spare_class(uint32_t size) {
#if defined(RTX_HOST_NO_POOL)
    (void)size;
    return kSpareClasses;
#else
    uint32_t c = 0;
    for (uint32_t cap = kSmallestSpareClass; c < kSpareClasses; ++c, cap <<= 1)
        if (size <= cap) return c;
    return kSpareClasses;
#endif
}

// A segment object with room for size bytes: a pooled one of its class, else a new one.
std::unique_ptr<Segment> take_segment(State& s, uint32_t size) {
    const uint32_t c = spare_class(size);
    if (c < kSpareClasses && !s.spare[c].empty()) {
        std::unique_ptr<Segment> seg = std::move(s.spare[c].back());
        s.spare[c].pop_back();
        return seg;
    }
    auto seg = std::unique_ptr<Segment>(new (std::nothrow) Segment);
    if (!seg) return nullptr;
    // At least one byte, so that a segment of size 0 still has an address of its own.
    const uint32_t capacity = c < kSpareClasses ? kSmallestSpareClass << c : (size ? size : 1);
    seg->data.reset(new (std::nothrow) uint8_t[capacity]);
    if (!seg->data) return nullptr;
    seg->capacity = capacity;
    s.segment_by_address[reinterpret_cast<uintptr_t>(seg->data.get())] = seg.get();
    return seg;
}

uint16_t alloc_locked(State& s, uint32_t size, const char* file, int line, uint16_t* out) {
    *out = 0;
    if (s.segments_in_use >= s.segment_limit || size > kMaxSegmentSize) return RTX_E_NOMEM;
    // Ids go round the whole range before one is used again, which keeps a stale id from
    // naming a fresh segment soon after it was freed.
    uint32_t id = s.next_segment;
    for (uint32_t tries = 0; tries < kMaxIds; ++tries) {
        if (id == 0 || id > kMaxIds) id = 1;
        if (!s.segments[id]) break;
        ++id;
    }
    if (s.segments[id]) return RTX_E_NOMEM;
    std::unique_ptr<Segment> seg = take_segment(s, size);
    if (!seg) return RTX_E_NOMEM;
    std::memset(seg->data.get(), 0, size ? size : 1);  // a new segment reads as zeros
    seg->size = size;
    seg->file.assign(file ? file : "");
    seg->line = line;
    seg->answered = false;
    seg->queued_on = 0;
    seg->id = static_cast<uint16_t>(id);
    s.next_segment = id + 1;
    s.segments[id] = std::move(seg);
    ++s.segments_in_use;
    if (s.segments_in_use > s.segments_peak) s.segments_peak = s.segments_in_use;
    *out = static_cast<uint16_t>(id);
    return RTX_OK;
}

uint16_t free_locked(State& s, uint16_t id) {
    Segment* seg = find_segment(s, id);
    if (!seg) return RTX_E_BAD_ID;
    if (seg->queued_on) {
        // Freed while still queued: it leaves its mailbox so no receiver gets a dead id.
        if (Mailbox* mb = find_mailbox(s, seg->queued_on)) {
            for (auto it = mb->queue.begin(); it != mb->queue.end(); ++it)
                if (*it == id) {
                    mb->queue.erase(it);
                    break;
                }
        }
    }
    std::unique_ptr<Segment> owned = std::move(s.segments[id]);
    --s.segments_in_use;
    owned->id = 0;
    owned->queued_on = 0;
    const uint32_t c = spare_class(owned->capacity);
    if (c < kSpareClasses && owned->capacity == kSmallestSpareClass << c) {
        const size_t keep = std::max(kMinSparePerClass, kSpareBytesPerClass / owned->capacity);
        if (s.spare[c].size() < keep) {
            s.spare[c].push_back(std::move(owned));
            return RTX_OK;
        }
    }
    s.segment_by_address.erase(reinterpret_cast<uintptr_t>(owned->data.get()));
    return RTX_OK;
}

uint16_t send_locked(State& s, uint16_t mailbox, uint16_t segment) {
    Mailbox* mb = find_mailbox(s, mailbox);
    Segment* seg = find_segment(s, segment);
    if (!mb || !seg || seg->queued_on) return RTX_E_BAD_ID;
    mb->queue.push_back(segment);
    seg->queued_on = mailbox;
    s.cv.notify_all();
    return RTX_OK;
}

// The segment holding address and the offset of address in it, or 0.
uint16_t segment_at(State& s, const void* address, uint32_t* offset) {
    auto a = reinterpret_cast<uintptr_t>(address);
    auto it = s.segment_by_address.upper_bound(a);
    if (it == s.segment_by_address.begin()) return 0;
    --it;
    const Segment* seg = it->second;
    uintptr_t off = a - it->first;
    if (seg->id == 0 || off >= (seg->size ? seg->size : 1)) return 0;  // pooled, or past it
    *offset = static_cast<uint32_t>(off);
    return seg->id;
}

// Reads the u16 at header offset field of the request at offset off; 0 when the segment
// ends before it.
uint16_t header_u16(const Segment& seg, uint32_t off, uint32_t field) {
    uint64_t at = static_cast<uint64_t>(off) + field;
    if (at + 2 > seg.size) return 0;
    return static_cast<uint16_t>(seg.data[at] | (seg.data[at + 1] << 8));
}

constexpr uint32_t kHdrSenderId = 0, kHdrReplyMode = 2, kHdrReplyMbx = 4, kHdrRepliedSender = 6,
                   kHdrRepliedTag = 8, kHdrBlockCount = 10, kHdrSize = 12;
constexpr uint16_t kReplyModeAnswer = 2;

void store_u16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

bool wait_until(State& s, Lock& lk, bool forever, Clock::time_point deadline) {
    if (forever) {
        s.cv.wait(lk);
        return true;
    }
    return s.cv.wait_until(lk, deadline) == std::cv_status::no_timeout || Clock::now() < deadline;
}

void* task_main(void* arg) {
    Task* t = static_cast<Task*>(arg);
    current_task = t;
    t->start();
    State& s = state();
    Lock lk(s.m);
    t->finished = true;
    return nullptr;
}

}  // namespace
}  // namespace rtx_host_detail

using namespace rtx_host_detail;

extern "C" {

/* ---- Segments ------------------------------------------------------------------------- */

void old_rtx_global_alloc(uint16_t* out_segment, uint32_t size, uint16_t, uint16_t,
                          rtx_status* status, const char* src_file, int line) {
    State& s = state();
    Lock lk(s.m);
    uint16_t id = 0;
    uint16_t st = take_fault(s, RTX_OP_ALLOC);
    if (!st) {
        st = alloc_locked(s, size, src_file, line, &id);
        if (st) note_failure(s, RTX_OP_ALLOC);
    }
    if (out_segment) *out_segment = id;
    put(status, st);
}

void* buildptr(uint16_t segment, uint32_t offset) {
    State& s = state();
    Lock lk(s.m);
    Segment* seg = find_segment(s, segment);
    if (!seg || offset > seg->size) return nullptr;
    return seg->data.get() + offset;
}

uint32_t rtx_segment_size(uint16_t segment) {
    State& s = state();
    Lock lk(s.m);
    Segment* seg = find_segment(s, segment);
    return seg ? seg->size : 0;
}

void rtx_global_free(uint16_t segment, rtx_status* status) {
    State& s = state();
    Lock lk(s.m);
    put(status, free_locked(s, segment));
}

/* ---- Mailboxes and catalog -------------------------------------------------------------- */

void rtx_creatembx(uint16_t* out_mbx, uint16_t, rtx_status* status) {
    State& s = state();
    Lock lk(s.m);
    if (s.mailboxes.size() >= kMaxIds) {
        if (out_mbx) *out_mbx = 0;
        put(status, RTX_E_NOMEM);
        return;
    }
    s.mailboxes.push_back(std::make_unique<Mailbox>());
    if (out_mbx) *out_mbx = static_cast<uint16_t>(s.mailboxes.size());
    put(status, RTX_OK);
}

void rtx_catalog(uint16_t id, const char* counted_name, uint16_t, rtx_status* status) {
    State& s = state();
    Lock lk(s.m);
    if (!counted_name) return put(status, RTX_E_BAD_ID);
    if (!s.catalog.emplace(counted(counted_name), id).second) return put(status, RTX_E_EXISTS);
    put(status, RTX_OK);
}

void rtx_searchcatalog(uint16_t* out_id, const char* counted_name, uint16_t, rtx_status* status) {
    State& s = state();
    Lock lk(s.m);
    if (out_id) *out_id = 0;
    uint16_t st = take_fault(s, RTX_OP_LOOKUP);
    if (!st) {
        auto it = counted_name ? s.catalog.find(counted_view(counted_name)) : s.catalog.end();
        if (it == s.catalog.end()) {
            st = RTX_E_NOT_FOUND;
            note_failure(s, RTX_OP_LOOKUP);
        } else if (out_id) {
            *out_id = it->second;
        }
    }
    put(status, st);
}

/* ---- Messages --------------------------------------------------------------------------- */

int _rtx_sendmessage(uint16_t mailbox, uint16_t segment, uint16_t, rtx_status* status) {
    State& s = state();
    Lock lk(s.m);
    uint16_t st = take_fault(s, RTX_OP_SEND);
    if (!st) {
        st = send_locked(s, mailbox, segment);
        if (st) note_failure(s, RTX_OP_SEND);
    }
    put(status, st);
    return st;
}

void _rtx_getmessage(uint16_t* out_segment, uint16_t mailbox, uint16_t timeout, uint16_t,
                     rtx_status* status) {
    State& s = state();
    Lock lk(s.m);
    if (out_segment) *out_segment = 0;
    uint16_t st = take_fault(s, RTX_OP_RECEIVE);
    if (st) return put(status, st);
    Mailbox* mb = find_mailbox(s, mailbox);
    if (!mb || !out_segment) {
        note_failure(s, RTX_OP_RECEIVE);
        return put(status, RTX_E_BAD_ID);
    }
    const bool forever = timeout == RTX_WAIT_FOREVER;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    for (;;) {
        if (s.shutting_down && timeout != 0 && current_task) end_task_thread(lk);
        if (!mb->queue.empty()) {
            uint16_t id = mb->queue.front();
            mb->queue.pop_front();
            if (Segment* seg = find_segment(s, id)) seg->queued_on = 0;
            *out_segment = id;
            return put(status, RTX_OK);
        }
        if (timeout == 0 || (!forever && Clock::now() >= deadline)) {
            note_failure(s, RTX_OP_RECEIVE);
            return put(status, RTX_E_TIMEOUT);
        }
        if (s.shutting_down) {
            // Threads that are not tasks (a test's main thread, a simulator thread) get the
            // shutdown as a status; queued messages are still handed out first.
            note_failure(s, RTX_OP_RECEIVE);
            return put(status, RTX_E_SHUTDOWN);
        }
        ++mb->waiters;
        wait_until(s, lk, forever, deadline);
        --mb->waiters;
    }
}

// The answer segment always passes to the executive: it is queued on the request's reply
// mailbox, or freed when the request asks for no answer or cannot be answered, so the caller
// never frees it after this call.
void send_response(const void* request, uint16_t answer_segment, rtx_status* status) {
    State& s = state();
    Lock lk(s.m);
    uint32_t off = 0;
    uint16_t req = segment_at(s, request, &off);
    if (!req) {
        free_locked(s, answer_segment);
        return put(status, RTX_E_BAD_ID);
    }
    Segment& r = *s.segments[req];
    if (header_u16(r, off, kHdrReplyMode) == kReplyModeAnswer &&
        static_cast<uint64_t>(off) + kHdrReplyMbx + 2 <= r.size) {
        uint16_t st = send_locked(s, header_u16(r, off, kHdrReplyMbx), answer_segment);
        if (st) {
            free_locked(s, answer_segment);
            return put(status, st);
        }
        r.answered = true;
        return put(status, RTX_OK);
    }
    put(status, free_locked(s, answer_segment));
}

void send_default_response(const void* request, uint16_t sender_id, rtx_status* status) {
    State& s = state();
    Lock lk(s.m);
    uint32_t off = 0;
    uint16_t req = segment_at(s, request, &off);
    if (!req) return put(status, RTX_E_BAD_ID);
    Segment& r = *s.segments[req];
    if (header_u16(r, off, kHdrReplyMode) != kReplyModeAnswer || r.answered ||
        static_cast<uint64_t>(off) + kHdrReplyMbx + 2 > r.size)
        return put(status, RTX_OK);
    const uint16_t reply_mbx = header_u16(r, off, kHdrReplyMbx);
    const uint16_t replied_sender = header_u16(r, off, kHdrSenderId);
    const uint16_t replied_tag = header_u16(r, off, kHdrRepliedTag);
    // The default answer is the executive's own message: it takes a segment of the pool but
    // is not counted as an allocation or send of the caller, and faults do not hit it.
    uint16_t id = 0;
    uint16_t st = alloc_locked(s, kHdrSize, "rtx_host default response", __LINE__, &id);
    if (st) return put(status, st);
    uint8_t* p = s.segments[id]->data.get();
    store_u16(p + kHdrSenderId, sender_id);
    store_u16(p + kHdrReplyMode, 0);
    store_u16(p + kHdrReplyMbx, 0);
    store_u16(p + kHdrRepliedSender, replied_sender);
    store_u16(p + kHdrRepliedTag, replied_tag);
    store_u16(p + kHdrBlockCount, 0);
    st = send_locked(s, reply_mbx, id);
    if (st) {
        free_locked(s, id);
        return put(status, st);
    }
    r.answered = true;
    put(status, RTX_OK);
}

/* ---- Semaphores ------------------------------------------------------------------------- */

// maximum 0 stands for no limit below the 16-bit range; an initial count above the maximum
// is cut to the maximum.
void rtx_createsema(uint16_t* out_sema, uint16_t initial, uint16_t maximum, uint16_t,
                    rtx_status* status) {
    State& s = state();
    Lock lk(s.m);
    if (out_sema) *out_sema = 0;
    uint16_t st = take_fault(s, RTX_OP_SEMA_CREATE);
    if (st) return put(status, st);
    if (s.semaphores.size() >= kMaxIds || !out_sema) {
        note_failure(s, RTX_OP_SEMA_CREATE);
        return put(status, out_sema ? RTX_E_NOMEM : RTX_E_BAD_ID);
    }
    auto sem = std::make_unique<Semaphore>();
    sem->maximum = maximum ? maximum : 0xFFFF;
    sem->count = initial < sem->maximum ? initial : sem->maximum;
    s.semaphores.push_back(std::move(sem));
    *out_sema = static_cast<uint16_t>(s.semaphores.size());
    put(status, RTX_OK);
}

void rtx_getsema(uint16_t sema, int32_t timeout, rtx_status* status) {
    State& s = state();
    Lock lk(s.m);
    uint16_t st = take_fault(s, RTX_OP_SEMA_TAKE);
    if (st) return put(status, st);
    Semaphore* sem = find_semaphore(s, sema);
    if (!sem) {
        note_failure(s, RTX_OP_SEMA_TAKE);
        return put(status, RTX_E_BAD_ID);
    }
    const bool forever = timeout < 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeout);
    for (;;) {
        if (s.shutting_down && timeout != 0 && current_task) end_task_thread(lk);
        if (sem->count > 0) {
            --sem->count;
            return put(status, RTX_OK);
        }
        if (timeout == 0 || (!forever && Clock::now() >= deadline)) {
            note_failure(s, RTX_OP_SEMA_TAKE);
            return put(status, RTX_E_TIMEOUT);
        }
        if (s.shutting_down) {
            note_failure(s, RTX_OP_SEMA_TAKE);
            return put(status, RTX_E_SHUTDOWN);
        }
        wait_until(s, lk, forever, deadline);
    }
}

// A unit given beyond the maximum is refused (RTX_HOST_E_SEMA_FULL) and the count stays at
// the maximum, so a lock given back twice never admits two holders.
void rtx_sendsema(uint16_t sema, rtx_status* status) {
    State& s = state();
    Lock lk(s.m);
    uint16_t st = take_fault(s, RTX_OP_SEMA_GIVE);
    if (st) return put(status, st);
    Semaphore* sem = find_semaphore(s, sema);
    if (!sem || sem->count >= sem->maximum) {
        note_failure(s, RTX_OP_SEMA_GIVE);
        return put(status, sem ? RTX_HOST_E_SEMA_FULL : RTX_E_BAD_ID);
    }
    ++sem->count;
    s.cv.notify_all();
    put(status, RTX_OK);
}

/* ---- Tasks ------------------------------------------------------------------------------ */

int register_init_function(void (*fn)(void), const char* text) {
    if (!fn) return -1;
    State& s = state();
    Lock lk(s.m);
    s.inits.push_back(InitFunction{fn, text ? text : "", false});
    return 0;
}

// The descriptor's stack values, type and priority are not used: a task runs on a POSIX
// thread with the default stack size of the host.
uint8_t ini_create_task(const rtx_task_descriptor* descriptor, const char* counted_name, uint16_t,
                        rtx_status* status) {
    State& s = state();
    Lock lk(s.m);
    uint16_t st = take_fault(s, RTX_OP_TASK_CREATE);
    if (st) {
        put(status, st);
        return 0;
    }
    void (*start)(void) = descriptor ? descriptor->start : nullptr;
    if (!start || !counted_name || s.tasks.size() >= kMaxIds || s.shutting_down) {
        note_failure(s, RTX_OP_TASK_CREATE);
        put(status, s.shutting_down ? RTX_E_SHUTDOWN : RTX_E_BAD_ID);
        return 0;
    }
    const std::string name = counted(counted_name);
    const auto id = static_cast<uint16_t>(s.tasks.size() + 1);
    if (!s.catalog.emplace(name, id).second) {
        note_failure(s, RTX_OP_TASK_CREATE);
        put(status, RTX_E_EXISTS);
        return 0;
    }
    auto task = std::make_unique<Task>();
    task->name = name;
    task->id = id;
    task->start = start;
    Task* t = task.get();
    s.tasks.push_back(std::move(task));
    // The new thread runs into the lock held here and waits until this call is done.
    if (pthread_create(&t->thread, nullptr, task_main, t) != 0) {
        s.catalog.erase(name);
        t->finished = true;
        note_failure(s, RTX_OP_TASK_CREATE);
        put(status, RTX_E_NOMEM);
        return 0;
    }
    t->started = true;
    put(status, RTX_OK);
    return 1;
}

// Only the calling task can suspend itself (task 0 or its own id); a thread that is not a
// task gets RTX_E_BAD_ID. A resume that arrives while the task is not suspended is refused
// by rtx_host_resume_task, it is not remembered.
void rtx_suspendtask(uint16_t task, rtx_status* status) {
    State& s = state();
    Lock lk(s.m);
    Task* t = current_task;
    if (!t || (task != 0 && task != t->id)) return put(status, RTX_E_BAD_ID);
    if (s.shutting_down) end_task_thread(lk);
    t->suspended = true;
    t->resume = false;
    while (!t->resume) {
        if (s.shutting_down) end_task_thread(lk);
        s.cv.wait(lk);
    }
    t->suspended = false;
    t->resume = false;
    put(status, RTX_OK);
}

/* ---- Host controls ---------------------------------------------------------------------- */

void rtx_host_set_segment_limit(uint32_t limit) {
    State& s = state();
    Lock lk(s.m);
    s.segment_limit = limit < kMaxIds ? limit : kMaxIds;
}

void rtx_host_system_start(void) {
    State& s = state();
    for (;;) {
        void (*fn)(void) = nullptr;
        {
            Lock lk(s.m);
            for (auto& f : s.inits)
                if (!f.done) {
                    f.done = true;
                    fn = f.fn;
                    break;
                }
        }
        if (!fn) return;
        fn();  // without the lock: init functions create tasks and mailboxes
    }
}

void rtx_host_shutdown(void) {
    State& s = state();
    std::vector<pthread_t> to_join;
    {
        Lock lk(s.m);
        s.shutting_down = true;
        s.cv.notify_all();
        for (auto& t : s.tasks) {
            if (!t->started || t->joined) continue;
            if (t.get() == current_task) continue;  // a task cannot wait for itself
            t->joined = true;
            to_join.push_back(t->thread);
        }
    }
    for (pthread_t th : to_join) pthread_join(th, nullptr);
}

// Refused (with a note on stderr) while a task thread still runs: its state would vanish
// under it. Root folder, root path, INI folder, segment limit, console echo and sink return to
// their defaults too.
void rtx_host_reset(void) {
    State& s = state();
    {
        Lock lk(s.m);
        for (auto& t : s.tasks) {
            if (t->started && !t->joined && !t->finished) {
                std::fprintf(stderr, "rtx_host_reset: refused, task %s still runs\n",
                             t->name.c_str());
                return;
            }
        }
        for (auto& t : s.tasks)
            if (t->started && !t->joined) {
                t->joined = true;
                pthread_join(t->thread, nullptr);  // its body has returned
            }
        s.shutting_down = false;
        s.segment_by_address.clear();
        for (auto& seg : s.segments) seg.reset();
        for (auto& pool : s.spare) pool.clear();
        s.segment_limit = kDefaultSegmentLimit;
        s.next_segment = 1;
        s.segments_in_use = 0;
        s.segments_peak = 0;
        s.mailboxes.clear();
        s.semaphores.clear();
        s.tasks.clear();
        s.catalog.clear();
        s.inits.clear();
        for (auto& f : s.faults) f = Fault{};
        for (auto& c : s.calls) c = 0;
        for (auto& c : s.failed) c = 0;
        s.ini_files.clear();
        s.next_ini = 1;
        s.root.assign(1, '.');  // assign(".") trips a false -Wrestrict of g++ 12 at -O3
        s.root_path = kDefaultRootPath;
        s.ini_dir.clear();
    }
    reset_console();
}

int rtx_host_resume_task(const char* counted_name) {
    if (!counted_name) return -1;
    State& s = state();
    Lock lk(s.m);
    Task* t = find_task_by_name(s, counted(counted_name));
    if (!t || !t->suspended) return -1;
    t->resume = true;
    s.cv.notify_all();
    return 0;
}

int rtx_host_task_suspended(const char* counted_name) {
    if (!counted_name) return 0;
    State& s = state();
    Lock lk(s.m);
    Task* t = find_task_by_name(s, counted(counted_name));
    return t && t->suspended && !t->resume ? 1 : 0;
}

uint16_t rtx_host_create_mailbox(const char* counted_name) {
    if (!counted_name) return 0;
    State& s = state();
    Lock lk(s.m);
    if (s.mailboxes.size() >= kMaxIds) return 0;
    const auto id = static_cast<uint16_t>(s.mailboxes.size() + 1);
    if (!s.catalog.emplace(counted(counted_name), id).second) return 0;
    s.mailboxes.push_back(std::make_unique<Mailbox>());
    return id;
}

uint32_t rtx_host_mailbox_depth(uint16_t mailbox) {
    State& s = state();
    Lock lk(s.m);
    Mailbox* mb = find_mailbox(s, mailbox);
    return mb ? static_cast<uint32_t>(mb->queue.size()) : 0;
}

uint32_t rtx_host_mailbox_waiters(uint16_t mailbox) {
    State& s = state();
    Lock lk(s.m);
    Mailbox* mb = find_mailbox(s, mailbox);
    return mb ? mb->waiters : 0;
}

int rtx_host_segment_origin(uint16_t segment, const char** file, int* line) {
    State& s = state();
    Lock lk(s.m);
    Segment* seg = find_segment(s, segment);
    if (!seg) return -1;
    if (file) *file = seg->file.c_str();
    if (line) *line = seg->line;
    return 0;
}

size_t rtx_host_list_segments(uint16_t* out, size_t max) {
    State& s = state();
    Lock lk(s.m);
    size_t n = 0;
    for (uint32_t id = 1; id <= kMaxIds; ++id) {
        if (!s.segments[id]) continue;
        if (out && n < max) out[n] = static_cast<uint16_t>(id);
        ++n;
    }
    return n;
}

void rtx_host_fail(rtx_host_op op, uint32_t skip, uint32_t count, uint16_t status) {
    if (op < 0 || op >= RTX_OP_COUNT) return;
    State& s = state();
    Lock lk(s.m);
    // A fault without a status would look like success; it fails with RTX_E_INJECTED.
    s.faults[op] = count ? Fault{skip, count, status ? status : uint16_t{RTX_E_INJECTED}} : Fault{};
}

void rtx_host_fail_next(rtx_host_op op, uint32_t count, uint16_t status) {
    rtx_host_fail(op, 0, count, status);
}

void rtx_host_clear_faults(void) {
    State& s = state();
    Lock lk(s.m);
    for (auto& f : s.faults) f = Fault{};
}

void rtx_host_get_counters(rtx_host_counters* out) {
    if (!out) return;
    State& s = state();
    Lock lk(s.m);
    std::memset(out, 0, sizeof *out);
    for (int i = 0; i < RTX_OP_COUNT; ++i) {
        out->calls[i] = s.calls[i];
        out->failed[i] = s.failed[i];
    }
    out->segments_in_use = s.segments_in_use;
    out->segments_peak = s.segments_peak;
}

}  // extern "C"
