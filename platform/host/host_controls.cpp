// Host executive: the state singleton, reset, fault injection and counters.
#include <pthread.h>

#include <cstdio>
#include <cstring>

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

}  // namespace rtx_host_detail

using namespace rtx_host_detail;

extern "C" {

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
