// Host executive: mailboxes and the name catalog, messages, and the responses to them.
#include <cstring>

#include "host_state.h"

namespace rtx_host_detail {
namespace {

uint16_t send_locked(State& s, uint16_t mailbox, uint16_t segment) {
    Mailbox* mb = find_mailbox(s, mailbox);
    Segment* seg = find_segment(s, segment);
    if (!mb || !seg || seg->queued_on) return RTX_E_BAD_ID;
    mb->queue.push_back(segment);
    seg->queued_on = mailbox;
    s.cv.notify_all();
    return RTX_OK;
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

}  // namespace
}  // namespace rtx_host_detail

using namespace rtx_host_detail;

extern "C" {

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
    // Threads that are not tasks (a test's main thread, a simulator thread) get the shutdown
    // as a status; queued messages are still handed out first.
    const WaitLimit limit{timeout == RTX_WAIT_FOREVER, timeout};
    st = block_until(
        s, lk, limit, [mb] { return !mb->queue.empty(); }, &mb->waiters);
    if (st) {
        note_failure(s, RTX_OP_RECEIVE);
        return put(status, st);
    }
    const uint16_t id = mb->queue.front();
    mb->queue.pop_front();
    if (Segment* seg = find_segment(s, id)) seg->queued_on = 0;
    *out_segment = id;
    put(status, RTX_OK);
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

/* ---- Host controls ---------------------------------------------------------------------- */

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

}  // extern "C"
