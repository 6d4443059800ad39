// A whole system for the reliability tests: a host system (host_system/world.h) with the error
// task started from init_function, in a root folder that survives restarts, so that a test can
// start the task, put a fault into its file system or its pool, start it again and see it
// recover. No partner tasks: the tests use errors without boxes, status texts or notifications.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "err/err.h"
#include "host_system/held_module.h"
#include "host_system/world.h"
#include "log_check.h"
#include "rtx/rtx_host.h"

namespace reliability {

using host_system::Bytes;

// Module 3 of the tests: one user error and one system error, archived, no actions.
constexpr std::uint16_t kUserError = 30001;
constexpr std::uint16_t kSystemError = 30002;

inline bool contains(const Bytes& bytes, const std::string& text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

class System {
  public:
    enum class Start { serving, suspended };

    System() : root_(host_system::Root::temporary("err_reliability")) {
        static ErrTableEntry table[] = {
            {kUserError, EF_ARCHIVE, 0, ACT_NONE, ACT_NONE, "Rel user %s", nullptr, "REL", nullptr,
             nullptr},
            {kSystemError, EF_SYSTEM | EF_ARCHIVE, 0, ACT_NONE, ACT_NONE, "Rel system %s", nullptr,
             "REL", nullptr, nullptr},
            {ERR_TABLE_END, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
        };
        E_RemoveErrorTable(3);
        E_RegisterErrorTable(3, table);
    }

    std::string path(const std::string& relative) const { return root_.host_path(relative); }

    // Starts a fresh executive and the error task (console cleared; prepare runs just before
    // the system start, to inject faults or set limits). serving: the task answered a message;
    // suspended: it stopped in its start-up.
    Start start(const std::function<void()>& prepare = nullptr) {
        world_.reset();
        world_.emplace(
            root_, host_system::WorldOptions{.restart_module = host_system::restart_held_module});
        rtx_host_console_clear();
        if (prepare) prepare();
        world_->start();
        return sync() ? Start::serving : Start::suspended;
    }

    // Ends every task of the executive.
    void stop() { world_.reset(); }

    // Waits until the task has handled everything sent before; false when it is suspended.
    bool sync() { return answered(world_->sync(kWait)); }

    // Sends message with reply_mode 2; what comes back (empty when nothing does).
    Bytes request(const Bytes& message) {
        EXPECT_TRUE(world_->send_asking(message, "reliability", __LINE__));
        host_system::Reply reply = world_->receive_reply(kWait);
        return answered(reply) ? reply.message : Bytes{};
    }

    // Reports an error as any module does, then waits until the task has handled it.
    void report(std::uint16_t number, const std::string& info) {
        EReportError("reliability.cpp", 1, number, info.c_str());
        EXPECT_TRUE(sync());
    }

    std::string console() const { return rtx_host_console_text(); }
    Bytes file(const std::string& relative) const { return root_.read(relative); }
    Bytes log(const char* name) const { return file(std::string("LOG/") + name); }
    bool log_valid(const char* name) const {
        Bytes b = log(name);
        return err::check_log_image(b.data(), b.size()).ok();
    }
    std::uint16_t error_mbx() const { return world_->error_mbx(); }

  private:
    static constexpr std::chrono::seconds kWait{30};

    static bool answered(const host_system::Reply& reply) {
        if (reply.outcome != host_system::Reply::answered &&
            reply.outcome != host_system::Reply::suspended)
            ADD_FAILURE() << "the error task neither answered nor was suspended";
        return reply.ok();
    }

    host_system::Root root_;
    std::optional<host_system::World> world_;  // after the root: it ends first
};

}  // namespace reliability
