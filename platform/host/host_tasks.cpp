// Host executive: tasks, start-up and shutdown, semaphores, and the blocking wait that taking a
// semaphore and suspension share (block_until, host_state.h; receiving has its own in
// host_messages.cpp).
#include <pthread.h>

#include "host_state.h"

namespace rtx_host_detail {

constinit thread_local Task* current_task = nullptr;

void end_task_thread(Lock& lk) {
    current_task->finished = true;
    current_task->suspended = false;
    lk.unlock();
    pthread_exit(nullptr);
}

namespace {

Task* find_task_by_name(State& s, const std::string& name) {
    for (auto& t : s.tasks)
        if (t->name == name && t->started && !t->finished) return t.get();
    return nullptr;
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
    if (!enter_name(s, name, id)) {
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
        remove_name(s, name);
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
    t->suspended = true;
    t->resume = false;
    // A task never returns from this wait but through a resume: the shutdown ends its thread.
    block_until(s, lk, WaitLimit{true, 0}, [t] { return t->resume; });
    t->suspended = false;
    t->resume = false;
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
    const WaitLimit limit{timeout < 0, timeout < 0 ? 0u : static_cast<uint32_t>(timeout)};
    st = block_until(s, lk, limit, [sem] { return sem->count > 0; });
    if (st) {
        note_failure(s, RTX_OP_SEMA_TAKE);
        return put(status, st);
    }
    --sem->count;
    put(status, RTX_OK);
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

/* ---- Host controls ---------------------------------------------------------------------- */

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
        wake_mailbox_sleepers(s);
        wake_pool_waiters(s);
        for (auto& t : s.tasks) {
            if (!t->started || t->joined) continue;
            if (t.get() == current_task) continue;  // a task cannot wait for itself
            t->joined = true;
            to_join.push_back(t->thread);
        }
    }
    for (pthread_t th : to_join) pthread_join(th, nullptr);
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

}  // extern "C"
