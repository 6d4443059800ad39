// Host executive: the state singleton, reset, fault injection and counters.
#include <pthread.h>

#include <cstdio>
#include <cstring>

#include "host_state.h"

namespace rtx_host_detail {

std::atomic<State*> g_state{nullptr};

State& make_state() {
    static State* s = [] {
        State* n = new State;
        n->slots.reset(new std::atomic<Segment*>[kMaxIds + 1]());
        n->mailbox_table.reset(new std::atomic<Mailbox*>[kMaxIds + 1]());
        g_state.store(n, std::memory_order_release);
        return n;
    }();
    return *s;
}

namespace {

// The fault of op for a call counted already. Lock held.
uint16_t fault_of_counted(State& s, rtx_host_op op) {
    Fault& f = s.faults[op];
    if (f.count == 0) return 0;
    if (f.skip > 0) {
        --f.skip;
        return 0;
    }
    if (--f.count == 0) s.ops[op].armed.store(false);
    note_failure(s, op);
    return f.status;
}

// A thread that ends leaves its counts to State::ops.
void thread_calls_end(void* p) {
    auto* c = static_cast<ThreadCalls*>(p);
    State& s = state();
    {
        std::lock_guard<std::mutex> lk(s.calls_m);
        for (int op = 0; op < RTX_OP_COUNT; ++op)
            s.ops[op].calls.fetch_add(c->calls[op].load() - c->at_reset[op].load());
        for (ThreadCalls** link = &s.thread_calls; *link; link = &(*link)->next) {
            if (*link == c) {
                *link = c->next;
                break;
            }
        }
    }
    t_calls = nullptr;
    delete c;
}

}  // namespace

__thread ThreadCalls* t_calls __attribute__((tls_model("initial-exec"))) = nullptr;

ThreadCalls& new_thread_calls(State& s) {
    auto* c = new ThreadCalls;
    {
        std::lock_guard<std::mutex> lk(s.calls_m);
        c->next = s.thread_calls;
        s.thread_calls = c;
    }
    t_calls = c;
    at_thread_end<thread_calls_end>(c);
    return *c;
}

uint16_t take_fault(State& s, rtx_host_op op) {
    s.ops[op].calls.fetch_add(1, std::memory_order_relaxed);
    return fault_of_counted(s, op);
}

uint16_t take_armed_fault(State& s, rtx_host_op op) {
    std::lock_guard<std::mutex> lk(s.m);
    return fault_of_counted(s, op);  // counted by take_fault_unlocked
}

namespace {

// Arms or clears the fault of op. Lock held.
void set_fault(State& s, int op, const Fault& f) {
    s.faults[op] = f;
    s.ops[op].armed.store(f.count != 0);
}

}  // namespace

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
        reset_segments(s);
        s.mailbox_count = 0;
        for (uint32_t id = 0; id <= kMaxIds; ++id) s.mailbox_table[id].store(nullptr);
        s.mailboxes.clear();
        s.semaphores.clear();
        s.tasks.clear();
        s.catalog.clear();
        s.catalog_view = nullptr;
        s.catalog_views.clear();
        s.inits.clear();
        for (int op = 0; op < RTX_OP_COUNT; ++op) {
            set_fault(s, op, Fault{});
            s.ops[op].calls = 0;
            s.ops[op].failed = 0;
        }
        {
            std::lock_guard<std::mutex> calls_lk(s.calls_m);
            for (ThreadCalls* c = s.thread_calls; c; c = c->next)
                for (int op = 0; op < RTX_OP_COUNT; ++op)
                    c->at_reset[op].store(c->calls[op].load());
        }
        s.ini_files.clear();
        s.next_ini = 1;
        s.root.assign(1, '.');  // assign(".") trips a false -Wrestrict of g++ 12 at -O3
        s.root_serial.fetch_add(1);
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
    set_fault(s, op,
              count ? Fault{skip, count, status ? status : uint16_t{RTX_E_INJECTED}} : Fault{});
}

void rtx_host_fail_next(rtx_host_op op, uint32_t count, uint16_t status) {
    rtx_host_fail(op, 0, count, status);
}

void rtx_host_clear_faults(void) {
    State& s = state();
    Lock lk(s.m);
    for (int op = 0; op < RTX_OP_COUNT; ++op) set_fault(s, op, Fault{});
}

void rtx_host_get_counters(rtx_host_counters* out) {
    if (!out) return;
    State& s = state();
    Lock lk(s.m);
    std::memset(out, 0, sizeof *out);
    for (int i = 0; i < RTX_OP_COUNT; ++i) {
        out->calls[i] = s.ops[i].calls.load();
        out->failed[i] = s.ops[i].failed.load();
    }
    {
        std::lock_guard<std::mutex> calls_lk(s.calls_m);
        for (const ThreadCalls* c = s.thread_calls; c; c = c->next)
            for (int i = 0; i < RTX_OP_COUNT; ++i)
                out->calls[i] += c->calls[i].load() - c->at_reset[i].load();
    }
    out->segments_in_use = s.segments_in_use.load();
    out->segments_peak = s.segments_peak.load();
}

}  // extern "C"
