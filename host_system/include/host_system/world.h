// A working executive world around the error task, for any program on the host: a fresh
// executive pointed at a root folder, the mailboxes the task looks up, a reply mailbox of the
// program's own, the partner tasks, and the conversation with the task (sync, requests).
//
// The world holds no module: the program links it the way it needs it (liberr.so, or the
// module's objects, err_core) and passes what a restart of its module needs. The first world of
// a process finds the executive as the library's load left it (init_function registered); a
// later one resets the executive and restarts the module, as after a power cycle.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "host_system/messages.h"
#include "host_system/partners.h"
#include "host_system/root.h"

namespace host_system {

enum class PartnerLayout {
    none,      // GUI_MBX, IECSTATE_MBX (and API_MBX) exist; nobody reads them
    separate,  // each its own mailbox and thread
    shared,    // one mailbox under the three names and one thread: the order of all they take
               // is the order in which the task sent it
};

struct WorldOptions {
    // The module's state back to a fresh load, with init_function registered again; needed by
    // every world but a process's first (host_system/held_module.h has it for programs that
    // link the module's objects).
    void (*restart_module)() = nullptr;
    bool error_qmbx = true;  // without it the task's second lookup fails
    bool api_mbx = true;     // without it the notifications find no API task
    PartnerLayout partners = PartnerLayout::none;
    PartnerTasks* behaviour = nullptr;  // null: the standard partner tasks
    std::uint32_t segment_limit = 0;    // 0: the executive's default
};

// How a wait for the error task ended.
struct Reply {
    // unsent: the request could not be sent; failed: the wait failed.
    enum Outcome { answered, unsent, suspended, timed_out, failed } outcome = failed;
    std::uint16_t status = 0;  // failed: the status of the wait
    Bytes message;             // answered: what came back
    bool ok() const { return outcome == answered; }
};

using Limit = std::chrono::milliseconds;
inline constexpr Limit kNoLimit{0};

class World {
  public:
    explicit World(const Root& root, WorldOptions options = {});
    ~World();  // shutdown()
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Every mailbox was made.
    bool ready() const { return ready_; }
    std::uint16_t error_mbx() const { return error_mbx_; }
    std::uint16_t error_qmbx() const { return error_qmbx_; }
    std::uint16_t reply_mbx() const { return reply_mbx_; }
    std::uint16_t gui_mbx() const { return partner_mbx_.empty() ? 0 : partner_mbx_[0]; }
    // The partner mailboxes: GUI_MBX, then IECSTATE_MBX and API_MBX where they have their own.
    const std::vector<std::uint16_t>& partner_mailboxes() const { return partner_mbx_; }

    // System start: the executive calls the registered init functions (init_function creates
    // the error task).
    void start();
    // Ends every task and the partners; safe to call more than once.
    void shutdown();
    // Whether the error task is suspended.
    static bool task_suspended();

    // ---- Talking to the error task ----
    // Sends message to ERROR_MBX.
    bool send(const Bytes& message, const char* origin = "host_system", int line = 0) const;
    // Sends message with reply_mode 2 and the reply mailbox.
    bool send_asking(Bytes message, const char* origin = "host_system", int line = 0) const;
    // The next message on the reply mailbox. Ends early when the task is suspended, at limit,
    // or when the wait fails.
    Reply receive_reply(Limit limit) const;
    // Waits for the message on the reply mailbox whose replied_tag is tag; the ones before it
    // go to *others (dropped when others is null).
    Reply await(std::uint16_t tag, Limit limit, std::vector<Bytes>* others = nullptr) const;
    // A tag of its own for a request (never 0).
    std::uint16_t next_tag();
    // An empty message with reply_mode 2 and a tag of its own (also its sender id); answered
    // when its default response is back, so that everything sent before has been handled.
    Reply sync(Limit limit, std::vector<Bytes>* others = nullptr);

    // ---- The partner tasks ----
    // Waits until the partners have handled everything sent to them before this call (a marker
    // through each of their mailboxes, a segment of one byte, which the task never sends).
    // Returns at once when they do not run or when a partner calls it; false when a marker could
    // not be sent.
    bool flush_partners();

  private:
    void serve(std::size_t index);
    Partner partner_of(std::size_t index, const Bytes& message) const;

    WorldOptions options_;
    PartnerTasks standard_;
    PartnerTasks* behaviour_;
    bool ready_ = false;
    bool shut_down_ = false;
    std::uint16_t error_mbx_ = 0, error_qmbx_ = 0, reply_mbx_ = 0;
    std::vector<std::uint16_t> partner_mbx_;
    std::uint16_t tag_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> threads_;
    std::vector<bool> serving_;
    std::vector<std::uint64_t> markers_sent_, markers_taken_;
};

}  // namespace host_system
