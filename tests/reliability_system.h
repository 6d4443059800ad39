// The reliability tests' system: the host system's world with the error task, in a root folder
// that survives restarts (start, put in a fault, start again, see it recover). No partner tasks:
// the tests' errors (module 3) have no boxes, status texts or notifications.
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

constexpr std::uint16_t kUserError = 30001;
constexpr std::uint16_t kSystemError = 30002;

inline bool contains(const Bytes& bytes, const std::string& text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

struct System {
    static constexpr std::chrono::seconds kWait{30};
    host_system::Root root = host_system::Root::temporary("err_reliability");
    std::optional<host_system::World> world;  // after the root: it ends first

    System() {
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

    // Starts a fresh executive and the error task (console cleared; prepare runs just before
    // the system start). True: the task serves; false: it stopped in its start-up.
    bool start(const std::function<void()>& prepare = nullptr) {
        world.reset();
        world.emplace(
            root, host_system::WorldOptions{.restart_module = host_system::restart_held_module});
        rtx_host_console_clear();
        if (prepare) prepare();
        world->start();
        return sync();
    }

    // Waits until the task has handled everything sent before (false: it is suspended).
    bool sync() { return answered(world->sync(kWait)); }
    static bool answered(const host_system::Reply& reply) {
        EXPECT_TRUE(reply.outcome == reply.answered || reply.outcome == reply.suspended);
        return reply.ok();
    }

    Bytes log(const char* name) const { return root.read(std::string("LOG/") + name); }
    bool log_valid(const char* name) const {
        Bytes b = log(name);
        return err::check_log_image(b.data(), b.size()).ok();
    }
};

}  // namespace reliability
