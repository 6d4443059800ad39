// Host executive: global segments, from a bounded pool with reuse of freed buffers.
#include <algorithm>
#include <cstring>
#include <new>

#include "host_state.h"

namespace rtx_host_detail {

namespace {

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

}  // namespace

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

/* ---- Host controls ---------------------------------------------------------------------- */

void rtx_host_set_segment_limit(uint32_t limit) {
    State& s = state();
    Lock lk(s.m);
    s.segment_limit = limit < kMaxIds ? limit : kMaxIds;
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

}  // extern "C"
