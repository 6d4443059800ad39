// Host executive: mailboxes and the name catalog, messages, and the responses to them.
#include <cstring>
#include <thread>

#include "host_state.h"

namespace rtx_host_detail {

// ---- The catalog ----

namespace {

// Publishes the catalog as it stands now for lookups without the lock. Lock held. Tables
// published before stay alive (a lookup may still read one) until the executive is reset.
void publish_catalog(State& s) {
    auto table = std::make_unique<CatalogTable>();
    table->reserve(s.catalog.size());
    for (const auto& [name, id] : s.catalog)
        table->push_back(CatalogEntry{name, name_head(name.data(), name.size()), id});
    s.catalog_view.store(table.get(), std::memory_order_release);
    s.catalog_views.push_back(std::move(table));
}

// Whether the characters past the first 8 of a name of length n equal those of name.
bool same_tail(const std::string& name, const char* chars, size_t n) {
    for (size_t k = 8; k < n; ++k)
        if (name[k] != chars[k]) return false;
    return true;
}

}  // namespace

bool enter_name(State& s, const std::string& name, uint16_t id) {
    if (!s.catalog.emplace(name, id).second) return false;
    publish_catalog(s);
    return true;
}

void remove_name(State& s, const std::string& name) {
    if (s.catalog.erase(name)) publish_catalog(s);
}

namespace {

// ---- Mailbox queues ----

// Appends seg (its queued word already claims the mailbox). Safe with any number of senders.
void append(Mailbox& mb, Segment* seg) {
    seg->next.store(nullptr, std::memory_order_relaxed);
    Segment* before = mb.tail.exchange(seg, std::memory_order_acq_rel);
    before->next.store(seg, std::memory_order_release);
}

// Takes the oldest segment appended, or null when none can be taken now (the queue is empty,
// or a sender has not linked its segment yet). mb.m held.
Segment* take_oldest(Mailbox& mb) {
    Segment* head = mb.head;
    Segment* next = head->next.load(std::memory_order_acquire);
    if (head == &mb.stub) {
        if (!next) return nullptr;
        mb.head = next;
        head = next;
        next = next->next.load(std::memory_order_acquire);
    }
    if (next) {
        mb.head = next;
        return head;
    }
    if (head != mb.tail.load(std::memory_order_acquire)) return nullptr;  // a sender links it
    append(mb, &mb.stub);
    next = head->next.load(std::memory_order_acquire);
    if (next) {
        mb.head = next;
        return head;
    }
    return nullptr;
}

// A receiver that works through a backlog handles one message at a time, and the messages
// were written on other processors: while it handles this one, the bytes of the next one and
// the segment after it are fetched into its cache (a segment stays linked, and so alive, until
// a receiver takes it or passes it by). mb.m held.
inline void prefetch_following(const Mailbox& mb) {
    const Segment* next = mb.head;
    if (next == &mb.stub) return;
    if (const Segment* after = next->next.load(std::memory_order_acquire))
        __builtin_prefetch(after);
    const uint8_t* data = next->data;
    for (uint32_t at = 0; at < next->size && at < 1024; at += 64) __builtin_prefetch(data + at);
}

// The next segment of the mailbox for a receiver, or 0. Segments freed while they waited are
// passed by (and go back to the pool). mb.m held.
uint16_t take_message(State& s, Mailbox& mb, uint16_t mailbox) {
    while (Segment* seg = take_oldest(mb)) {
        uint32_t queued = mailbox;
        if (seg->queued.compare_exchange_strong(queued, 0, std::memory_order_acq_rel)) {
            mb.taken.fetch_add(1, std::memory_order_relaxed);
            prefetch_following(mb);
            return seg->id.load(std::memory_order_relaxed);
        }
        recycle_segment(s, seg);  // cancelled (counted as taken when it was freed)
    }
    return 0;
}

bool holds_messages(const Mailbox& mb) {
    return mb.pushed.load() != mb.taken.load(std::memory_order_relaxed);
}

// How long a receiver that finds its mailbox empty watches it before it sleeps: a message
// that comes meanwhile is taken without the two system calls of a sleep and a wake-up.
constexpr auto kWatch = std::chrono::microseconds(20);

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Watches the mailbox for up to kWatch (never past deadline); true when it holds a message.
bool watch(const State& s, const Mailbox& mb, const Clock::time_point* deadline) {
    auto until = Clock::now() + kWatch;
    if (deadline && *deadline < until) until = *deadline;
    for (uint32_t k = 1;; ++k) {
        if (holds_messages(mb)) return true;
        if (k % 64 == 0 &&
            (s.shutting_down.load(std::memory_order_relaxed) || Clock::now() >= until))
            return false;
        relax();
    }
}

[[gnu::noinline]] void wake_sleepers(Mailbox& mb) {
    std::lock_guard<std::mutex> lk(mb.m);
    mb.cv.notify_all();
}

// Queues segment on mailbox and wakes the mailbox's sleepers, if any.
inline __attribute__((always_inline)) uint16_t send_segment(State& s, uint16_t mailbox,
                                                            uint16_t segment) {
    Mailbox* mb = find_mailbox(s, mailbox);
    Segment* seg = find_segment(s, segment);
    if (!mb || !seg) return RTX_E_BAD_ID;
    uint32_t idle = 0;
    if (!seg->queued.compare_exchange_strong(idle, mailbox, std::memory_order_acq_rel))
        return RTX_E_BAD_ID;  // queued already
    forget_received(segment);
    append(*mb, seg);
    // Counted after the link and before waiters is read; a receiver counts itself in waiters
    // before it reads pushed: either the receiver sees this message or this sender sees it.
    mb->pushed.fetch_add(1);
    if (mb->waiters.load() != 0 && !mb->wake_sent.exchange(true)) wake_sleepers(*mb);
    return RTX_OK;
}

// Takes the next message of mailbox within the limit, with the rules of block_until.
uint16_t receive(State& s, Mailbox& mb, uint16_t mailbox, WaitLimit limit, uint16_t* out) {
    const bool waits = limit.forever || limit.ms != 0;
    Clock::time_point deadline{};
    if (!limit.forever && limit.ms != 0)
        deadline = Clock::now() + std::chrono::milliseconds(limit.ms);
    for (;;) {
        Lock lk(mb.m);
        const bool down = s.shutting_down.load();
        if (down && waits && current_task) {
            lk.unlock();
            Lock task_lock(s.m);
            end_task_thread(task_lock);
        }
        if ((*out = take_message(s, mb, mailbox)) != 0) return RTX_OK;
        if (!waits || (!limit.forever && Clock::now() >= deadline)) return RTX_E_TIMEOUT;
        if (down) return RTX_E_SHUTDOWN;
        if (holds_messages(mb)) {  // a sender is linking its message
            lk.unlock();
            std::this_thread::yield();
            continue;
        }
        lk.unlock();
        if (watch(s, mb, limit.forever ? nullptr : &deadline)) continue;
        lk.lock();
        mb.waiters.fetch_add(1);
        mb.wake_sent.store(false);
        if (!holds_messages(mb) && !s.shutting_down.load()) {
            if (limit.forever)
                mb.cv.wait(lk);
            else
                mb.cv.wait_until(lk, deadline);
        }
        mb.waiters.fetch_sub(1);
    }
}

// ---- Responses ----

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

}  // namespace

void wake_mailbox_sleepers(State& s) {
    for (auto& mb : s.mailboxes) {
        std::lock_guard<std::mutex> lk(mb->m);
        mb->cv.notify_all();
    }
}

}  // namespace rtx_host_detail

using namespace rtx_host_detail;

namespace {

// A new mailbox; its id, or 0 when there is no room. Lock held.
uint16_t add_mailbox(State& s) {
    if (s.mailboxes.size() >= kMaxIds) return 0;
    s.mailboxes.push_back(std::make_unique<Mailbox>());
    const auto id = static_cast<uint16_t>(s.mailboxes.size());
    s.mailbox_table[id].store(s.mailboxes.back().get(), std::memory_order_release);
    s.mailbox_count.store(id, std::memory_order_release);
    return id;
}

}  // namespace

extern "C" {

/* ---- Mailboxes and catalog -------------------------------------------------------------- */

void rtx_creatembx(uint16_t* out_mbx, uint16_t, rtx_status* status) {
    State& s = state();
    Lock lk(s.m);
    const uint16_t id = add_mailbox(s);
    if (out_mbx) *out_mbx = id;
    put(status, id ? RTX_OK : RTX_E_NOMEM);
}

void rtx_catalog(uint16_t id, const char* counted_name, uint16_t, rtx_status* status) {
    State& s = state();
    Lock lk(s.m);
    if (!counted_name) return put(status, RTX_E_BAD_ID);
    put(status, enter_name(s, counted(counted_name), id) ? RTX_OK : RTX_E_EXISTS);
}

void rtx_searchcatalog(uint16_t* out_id, const char* counted_name, uint16_t, rtx_status* status) {
    State& s = state();
    if (out_id) *out_id = 0;
    uint16_t st = take_fault_unlocked(s, RTX_OP_LOOKUP);
    if (!st) {
        st = RTX_E_NOT_FOUND;
        const CatalogTable* table = s.catalog_view.load(std::memory_order_acquire);
        if (counted_name && table) {
            const size_t n = static_cast<unsigned char>(counted_name[0]);
            const char* chars = counted_name + 1;
            const uint64_t head = name_head(chars, n);
            for (const CatalogEntry& e : *table)
                if (e.head == head && e.name.size() == n && same_tail(e.name, chars, n)) {
                    if (out_id) *out_id = e.id;
                    st = RTX_OK;
                    break;
                }
        }
        if (st) note_failure(s, RTX_OP_LOOKUP);
    }
    put(status, st);
}

/* ---- Messages --------------------------------------------------------------------------- */

int _rtx_sendmessage(uint16_t mailbox, uint16_t segment, uint16_t, rtx_status* status) {
    State& s = state();
    uint16_t st = take_fault_unlocked(s, RTX_OP_SEND);
    if (!st) {
        st = send_segment(s, mailbox, segment);
        if (st) note_failure(s, RTX_OP_SEND);
    }
    put(status, st);
    return st;
}

// Threads that are not tasks (a test's main thread, a simulator thread) get the shutdown as a
// status; queued messages are still handed out first.
void _rtx_getmessage(uint16_t* out_segment, uint16_t mailbox, uint16_t timeout, uint16_t,
                     rtx_status* status) {
    State& s = state();
    if (out_segment) *out_segment = 0;
    uint16_t st = take_fault_unlocked(s, RTX_OP_RECEIVE);
    if (st) return put(status, st);
    Mailbox* mb = find_mailbox(s, mailbox);
    if (!mb || !out_segment) {
        note_failure(s, RTX_OP_RECEIVE);
        return put(status, RTX_E_BAD_ID);
    }
    st = receive(s, *mb, mailbox, WaitLimit{timeout == RTX_WAIT_FOREVER, timeout}, out_segment);
    if (st)
        note_failure(s, RTX_OP_RECEIVE);
    else
        t_received = *out_segment;
    put(status, st);
}

// The answer segment always passes to the executive: it is queued on the request's reply
// mailbox, or freed when the request asks for no answer or cannot be answered, so the caller
// never frees it after this call.
void send_response(const void* request, uint16_t answer_segment, rtx_status* status) {
    State& s = state();
    uint32_t off = 0;
    uint16_t req = segment_at(s, request, &off);
    Segment* r = find_segment(s, req);
    if (!r) {
        free_segment(s, answer_segment);
        return put(status, RTX_E_BAD_ID);
    }
    if (header_u16(*r, off, kHdrReplyMode) == kReplyModeAnswer &&
        static_cast<uint64_t>(off) + kHdrReplyMbx + 2 <= r->size) {
        uint16_t st = send_segment(s, header_u16(*r, off, kHdrReplyMbx), answer_segment);
        if (st) {
            free_segment(s, answer_segment);
            return put(status, st);
        }
        r->answered = true;
        return put(status, RTX_OK);
    }
    put(status, free_segment(s, answer_segment));
}

void send_default_response(const void* request, uint16_t sender_id, rtx_status* status) {
    State& s = state();
    uint32_t off = 0;
    uint16_t req = segment_at(s, request, &off);
    Segment* r = find_segment(s, req);
    if (!r) return put(status, RTX_E_BAD_ID);
    if (header_u16(*r, off, kHdrReplyMode) != kReplyModeAnswer || r->answered ||
        static_cast<uint64_t>(off) + kHdrReplyMbx + 2 > r->size)
        return put(status, RTX_OK);
    const uint16_t reply_mbx = header_u16(*r, off, kHdrReplyMbx);
    const uint16_t replied_sender = header_u16(*r, off, kHdrSenderId);
    const uint16_t replied_tag = header_u16(*r, off, kHdrRepliedTag);
    // The default answer is the executive's own message: it takes a segment of the pool but
    // is not counted as an allocation or send of the caller, and faults do not hit it.
    uint16_t id = 0;
    uint16_t st = alloc_segment(s, kHdrSize, "rtx_host default response", __LINE__, &id);
    if (st) return put(status, st);
    uint8_t* p = find_segment(s, id)->data;
    store_u16(p + kHdrSenderId, sender_id);
    store_u16(p + kHdrReplyMode, 0);
    store_u16(p + kHdrReplyMbx, 0);
    store_u16(p + kHdrRepliedSender, replied_sender);
    store_u16(p + kHdrRepliedTag, replied_tag);
    store_u16(p + kHdrBlockCount, 0);
    st = send_segment(s, reply_mbx, id);
    if (st) {
        free_segment(s, id);
        return put(status, st);
    }
    r->answered = true;
    put(status, RTX_OK);
}

/* ---- Host controls ---------------------------------------------------------------------- */

uint16_t rtx_host_create_mailbox(const char* counted_name) {
    if (!counted_name) return 0;
    State& s = state();
    Lock lk(s.m);
    if (s.mailboxes.size() >= kMaxIds) return 0;
    const auto id = static_cast<uint16_t>(s.mailboxes.size() + 1);
    if (!enter_name(s, counted(counted_name), id)) return 0;
    return add_mailbox(s);
}

uint32_t rtx_host_mailbox_depth(uint16_t mailbox) {
    Mailbox* mb = find_mailbox(state(), mailbox);
    if (!mb) return 0;
    const uint64_t taken = mb->taken.load();
    const uint64_t pushed = mb->pushed.load();
    return pushed > taken ? static_cast<uint32_t>(pushed - taken) : 0;
}

uint32_t rtx_host_mailbox_waiters(uint16_t mailbox) {
    Mailbox* mb = find_mailbox(state(), mailbox);
    return mb ? mb->waiters.load() : 0;
}

}  // extern "C"
