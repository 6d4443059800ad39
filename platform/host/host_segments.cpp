// Host executive: global segments. An id names its slot in an array, so that buildptr and a
// free find a segment with one atomic load; a segment comes from a cache of freed ones that each
// thread keeps, refilled from and spilled to a shared depot, so that the sender of a message and
// the receiver that frees it meet on no lock but once per batch of segments.
#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "host_state.h"

#if defined(RTX_HOST_SANITIZED)
#include <sanitizer/asan_interface.h>
#endif

namespace rtx_host_detail {

namespace {

// Under AddressSanitizer the pool stays on, and the sanitizer is told what a pooled buffer may be
// used for: nothing while it waits among the spares (a segment used after its free is seen, as
// with a buffer given back to the heap), and while in use no byte past the 64-byte blocks that
// its size reaches (a write past a segment, its zeroing's included, is seen).
#if defined(RTX_HOST_SANITIZED)
void mark_in_use(Segment* seg, uint32_t size) {
    const uint32_t blocks = size != 0 ? (size + 63u) & ~63u : 1u;  // size 0: its one byte
    const uint32_t reach =
        seg->capacity % 64 == 0 ? std::min(seg->capacity, blocks) : seg->capacity;
    ASAN_UNPOISON_MEMORY_REGION(seg->data, reach);
    ASAN_POISON_MEMORY_REGION(seg->data + reach, seg->capacity - reach);
}
void mark_spare(Segment* seg) {
    ASAN_POISON_MEMORY_REGION(seg->data, seg->capacity);
}
void mark_released(Segment* seg) {
    ASAN_UNPOISON_MEMORY_REGION(seg->data, seg->capacity);
}
#else
inline void mark_in_use(Segment*, uint32_t) {}
inline void mark_spare(Segment*) {}
inline void mark_released(Segment*) {}
#endif

// Pool class of a data size (index into the caches and depots), or kSpareClasses when not
// pooled.
uint32_t spare_class(uint32_t size) {
    if (size <= kSmallestSpareClass) return 0;
    // The class whose capacity is the next power of two at or above size.
    const uint32_t c = 32u - static_cast<uint32_t>(__builtin_clz(size - 1)) - 6u;
    return c < kSpareClasses ? c : kSpareClasses;
}

size_t depot_keep(uint32_t c) {
    return std::max(kMinSparePerClass, kSpareBytesPerClass / (size_t{kSmallestSpareClass} << c));
}

// The freed segments a thread keeps for its next allocations, by class. A batch of them moves
// to or from the depot at once; the cache of a thread that ends goes to the depot.
constexpr uint32_t kCacheSize = 32;
constexpr uint32_t kCacheBatch = 16;

struct ThreadCache {
    uint64_t epoch = 0;
    uint32_t count[kSpareClasses] = {};
    Segment* items[kSpareClasses][kCacheSize] = {};
};

// The calling thread's cache: one pointer in the thread's static TLS block (read with one
// instruction), the cache itself on the heap, handed to the depot by a key destructor when the
// thread ends.
__thread ThreadCache* t_cache __attribute__((tls_model("initial-exec"))) = nullptr;

void destroy(State& s, Segment* seg) {
    {
        std::lock_guard<std::mutex> lk(s.address_m);
        s.segment_by_address.erase(reinterpret_cast<uintptr_t>(seg->data));
    }
    mark_released(seg);
    delete seg;
}

// Moves the n segments at from into the depot of class c; what the depot cannot keep is freed.
void spill(State& s, uint32_t c, Segment** from, uint32_t n) {
    Depot& d = s.depots[c];
    uint32_t kept = 0;
    {
        std::lock_guard<std::mutex> lk(d.m);
        const size_t keep = depot_keep(c);
        for (; kept < n && d.spare.size() < keep; ++kept) d.spare.push_back(from[kept]);
    }
    for (uint32_t k = kept; k < n; ++k) destroy(s, from[k]);
}

void thread_ends(void* p) {
    auto* c = static_cast<ThreadCache*>(p);
    State& s = state();
    if (c->epoch == s.epoch.load())
        for (uint32_t k = 0; k < kSpareClasses; ++k) spill(s, k, c->items[k], c->count[k]);
    t_cache = nullptr;
    delete c;
}

// The first use on a thread, or the first after a reset freed what the cache held.
[[gnu::noinline]] ThreadCache& renew_cache(State& s) {
    ThreadCache* c = t_cache;
    if (!c) {
        c = new ThreadCache;
        t_cache = c;
        at_thread_end<thread_ends>(c);
    }
    for (uint32_t& n : c->count) n = 0;
    c->epoch = s.epoch.load();
    return *c;
}

inline ThreadCache& cache(State& s) {
    ThreadCache* c = t_cache;
    if (__builtin_expect(c && c->epoch == s.epoch.load(std::memory_order_relaxed), 1)) return *c;
    return renew_cache(s);
}

// A segment object of class c (kSpareClasses: not pooled) with room for size bytes, when the
// thread's cache has none: a batch from the depot, else a new one.
[[gnu::noinline]] Segment* refill_or_make(State& s, uint32_t size, uint32_t c) {
    if (c < kSpareClasses) {
        ThreadCache& tc = cache(s);
        Depot& d = s.depots[c];
        std::lock_guard<std::mutex> lk(d.m);
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kCacheBatch, d.spare.size()));
        if (n != 0) {
            std::copy(d.spare.end() - n, d.spare.end(), tc.items[c]);
            d.spare.resize(d.spare.size() - n);
            tc.count[c] = n - 1;
            return tc.items[c][n - 1];
        }
    }
    auto* seg = new (std::nothrow) Segment;
    if (!seg) return nullptr;
    // At least one byte, so that a segment of size 0 still has an address of its own.
    const uint32_t capacity = c < kSpareClasses ? kSmallestSpareClass << c : (size ? size : 1);
    seg->data = new (std::nothrow) uint8_t[capacity];
    if (!seg->data) {
        delete seg;
        return nullptr;
    }
    seg->capacity = capacity;
    std::lock_guard<std::mutex> lk(s.address_m);
    s.segment_by_address[reinterpret_cast<uintptr_t>(seg->data)] = seg;
    return seg;
}

// A segment object with room for size bytes: a pooled one of its class, else a new one.
inline Segment* take_segment(State& s, uint32_t size) {
    const uint32_t c = spare_class(size);
    if (c < kSpareClasses) {
        ThreadCache& tc = cache(s);
        if (tc.count[c] != 0) return tc.items[c][--tc.count[c]];
    }
    return refill_or_make(s, size, c);
}

[[gnu::noinline]] void raise_peak(State& s, uint32_t n) {
    uint32_t peak = s.segments_peak.load(std::memory_order_relaxed);
    while (n > peak && !s.segments_peak.compare_exchange_weak(peak, n, std::memory_order_relaxed)) {
    }
}

// Counts one more segment in use unless the limit is reached.
bool reserve_in_use(State& s) {
    const uint32_t limit = s.segment_limit.load(std::memory_order_relaxed);
    uint32_t n = s.segments_in_use.load(std::memory_order_relaxed);
    do {
        if (n >= limit) return false;
    } while (!s.segments_in_use.compare_exchange_weak(n, n + 1, std::memory_order_relaxed));
    if (n + 1 > s.segments_peak.load(std::memory_order_relaxed)) raise_peak(s, n + 1);
    return true;
}

// A new segment reads as zeros. A pooled buffer is zeroed in whole blocks of 64 bytes, as far
// as size reaches (its capacity is a multiple of 64).
void zero(Segment* seg, uint32_t size) {
#if defined(__SSE2__)
    if (seg->capacity % 64 == 0 && size != 0) {
        const __m128i z = _mm_setzero_si128();
        for (uint8_t *p = seg->data, *end = p + size; p < end; p += 64) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p), z);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), z);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 32), z);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 48), z);
        }
        return;
    }
#endif
    std::memset(seg->data, 0, size ? size : 1);
}

// Segments in use at or below which the threads that give way are woken: half the pool, so that
// they refill it together and the threads that free segments wake them once per many frees.
inline uint32_t refill_mark(const State& s) {
    return s.segment_limit.load(std::memory_order_relaxed) / 2;
}

// An allocation that finds the pool exhausted gives way: it sleeps until half the pool is free
// again (or kGiveWay has passed, or the executive shuts down) and then tries once more. On the
// instrument the tasks that free segments, the error task first, outrank the tasks that report,
// so a reporter meets an exhausted pool only while they wait themselves; on the host nothing
// ranks threads, and reporters that call again and again would take the processors from them.
[[gnu::noinline, gnu::cold]] bool give_way(State& s) {
    {
        Lock lk(s.pool_m);
        s.pool_waiters.fetch_add(1);
        const auto until = Clock::now() + kGiveWay;
        while (s.segments_in_use.load() > refill_mark(s) &&
               !s.shutting_down.load(std::memory_order_relaxed) &&
               s.pool_cv.wait_until(lk, until) == std::cv_status::no_timeout) {
        }
        s.pool_waiters.fetch_sub(1);
    }
    return reserve_in_use(s);
}

// A new segment of size bytes, reading as zeros; RTX_E_NOMEM when the pool is exhausted.
// may_wait: the caller may give way at an exhausted pool.
inline __attribute__((always_inline)) uint16_t new_segment(State& s, uint32_t size,
                                                           const char* file, int line,
                                                           uint16_t* out, bool may_wait) {
    *out = 0;
    if (size > kMaxSegmentSize) return RTX_E_NOMEM;
    if (!reserve_in_use(s) && !(may_wait && give_way(s))) return RTX_E_NOMEM;
    Segment* seg = take_segment(s, size);
    if (!seg) {
        s.segments_in_use.fetch_sub(1, std::memory_order_relaxed);
        return RTX_E_NOMEM;
    }
    mark_in_use(seg, size);
    zero(seg, size);
    seg->size = size;
    seg->file = file ? file : "";
    seg->line = line;
    seg->answered = false;
    seg->queued.store(0, std::memory_order_relaxed);
    // Ids go round the whole range before one is used again, which keeps a stale id from
    // naming a fresh segment soon after it was freed. A segment in use holds its id, and no
    // more segments are in use than there are ids, so a free one is found.
    for (;;) {
        const uint32_t id = s.next_segment.fetch_add(1, std::memory_order_relaxed) & 0xFFFFu;
        if (id == 0) continue;
        Segment* expected = nullptr;
        seg->id.store(static_cast<uint16_t>(id), std::memory_order_relaxed);
        if (s.slots[id].compare_exchange_strong(expected, seg, std::memory_order_release,
                                                std::memory_order_relaxed)) {
            *out = static_cast<uint16_t>(id);
            return RTX_OK;
        }
    }
}

}  // namespace

void recycle_segment(State& s, Segment* seg) {
    const uint32_t c = spare_class(seg->capacity);
    if (c < kSpareClasses && seg->capacity == kSmallestSpareClass << c) {
        ThreadCache& tc = cache(s);
        if (tc.count[c] == kCacheSize) {
            spill(s, c, tc.items[c] + kCacheSize - kCacheBatch, kCacheBatch);
            tc.count[c] -= kCacheBatch;
        }
        mark_spare(seg);
        tc.items[c][tc.count[c]++] = seg;
        return;
    }
    destroy(s, seg);
}

uint16_t alloc_segment(State& s, uint32_t size, const char* file, int line, uint16_t* out) {
    return new_segment(s, size, file, line, out, false);
}

uint16_t free_segment(State& s, uint16_t id) {
    Segment* seg = find_segment(s, id);
    if (!seg) return RTX_E_BAD_ID;
    // Freed while still queued: it is cancelled, so that no receiver gets a dead id, and it
    // stays linked in the queue until a receiver passes it by.
    bool linked = false;
    uint32_t queued = seg->queued.load(std::memory_order_acquire);
    if (queued != 0 && queued != kCancelled &&
        seg->queued.compare_exchange_strong(queued, kCancelled, std::memory_order_acq_rel)) {
        linked = true;
        if (Mailbox* mb = find_mailbox(s, static_cast<uint16_t>(queued)))
            mb->taken.fetch_add(1, std::memory_order_relaxed);
    }
    if (!s.slots[id].compare_exchange_strong(seg, nullptr, std::memory_order_acq_rel))
        return RTX_E_BAD_ID;  // freed by another thread meanwhile
    forget_received(id);
    seg->id.store(0, std::memory_order_relaxed);
    // Counted free before waiters is read; a thread that gives way counts itself in waiters
    // before it reads segments_in_use: either it sees the room or this thread sees it.
    if (s.segments_in_use.fetch_sub(1) - 1 <= refill_mark(s) && s.pool_waiters.load() != 0) {
        std::lock_guard<std::mutex> lk(s.pool_m);
        s.pool_cv.notify_all();
    }
    if (!linked) recycle_segment(s, seg);
    return RTX_OK;
}

__thread uint16_t t_received __attribute__((tls_model("initial-exec"))) = 0;

uint16_t segment_at(State& s, const void* address, uint32_t* offset) {
    auto a = reinterpret_cast<uintptr_t>(address);
    // The message this thread holds: no other thread frees it meanwhile.
    if (const uint16_t held = t_received) {
        if (const Segment* seg = find_segment(s, held)) {
            const uintptr_t start = reinterpret_cast<uintptr_t>(seg->data);
            if (a >= start && a - start < (seg->size ? seg->size : 1) &&
                seg->id.load(std::memory_order_relaxed) == held) {
                *offset = static_cast<uint32_t>(a - start);
                return held;
            }
        }
    }
    std::lock_guard<std::mutex> lk(s.address_m);
    auto it = s.segment_by_address.upper_bound(a);
    if (it == s.segment_by_address.begin()) return 0;
    --it;
    const Segment* seg = it->second;
    const uintptr_t off = a - it->first;
    const uint16_t id = seg->id.load(std::memory_order_relaxed);
    if (id == 0 || off >= (seg->size ? seg->size : 1)) return 0;  // pooled, or past it
    *offset = static_cast<uint32_t>(off);
    return id;
}

void wake_pool_waiters(State& s) {
    std::lock_guard<std::mutex> lk(s.pool_m);
    s.pool_cv.notify_all();
}

void reset_segments(State& s) {
    for (uint32_t id = 0; id <= kMaxIds; ++id) s.slots[id].store(nullptr);
    for (Depot& d : s.depots) d.spare.clear();
    for (auto& [address, seg] : s.segment_by_address) {
        mark_released(seg);
        delete seg;
    }
    s.segment_by_address.clear();
    s.epoch.fetch_add(1);  // every thread's cache held segments freed just now
    s.segment_limit = kDefaultSegmentLimit;
    s.next_segment = 0;
    s.segments_in_use = 0;
    s.segments_peak = 0;
}

}  // namespace rtx_host_detail

using namespace rtx_host_detail;

extern "C" {

/* ---- Segments ------------------------------------------------------------------------- */

void old_rtx_global_alloc(uint16_t* out_segment, uint32_t size, uint16_t, uint16_t,
                          rtx_status* status, const char* src_file, int line) {
    State& s = state();
    uint16_t id = 0;
    uint16_t st = take_fault_unlocked(s, RTX_OP_ALLOC);
    if (!st) {
        st = new_segment(s, size, src_file, line, &id, true);
        if (st) note_failure(s, RTX_OP_ALLOC);
    }
    if (out_segment) *out_segment = id;
    put(status, st);
}

void* buildptr(uint16_t segment, uint32_t offset) {
    Segment* seg = find_segment(state(), segment);
    if (!seg || offset > seg->size) return nullptr;
    return seg->data + offset;
}

uint32_t rtx_segment_size(uint16_t segment) {
    Segment* seg = find_segment(state(), segment);
    return seg ? seg->size : 0;
}

void rtx_global_free(uint16_t segment, rtx_status* status) {
    put(status, free_segment(state(), segment));
}

/* ---- Host controls ---------------------------------------------------------------------- */

void rtx_host_set_segment_limit(uint32_t limit) {
    state().segment_limit.store(limit < kMaxIds ? limit : kMaxIds);
}

int rtx_host_segment_origin(uint16_t segment, const char** file, int* line) {
    Segment* seg = find_segment(state(), segment);
    if (!seg) return -1;
    if (file) *file = seg->file;
    if (line) *line = seg->line;
    return 0;
}

size_t rtx_host_list_segments(uint16_t* out, size_t max) {
    State& s = state();
    size_t n = 0;
    for (uint32_t id = 1; id <= kMaxIds; ++id) {
        if (!s.slots[id].load(std::memory_order_acquire)) continue;
        if (out && n < max) out[n] = static_cast<uint16_t>(id);
        ++n;
    }
    return n;
}

}  // extern "C"
