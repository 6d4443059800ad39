// A whole system for the reliability tests: the executive with the error task started from
// init_function, in a root folder that survives restarts, so that a test can start the task,
// put a fault into its file system, start it again and see it recover.
//
// Unlike the task harness there are no partner tasks: the tests use errors without boxes,
// status texts or notifications. The mailboxes the task looks up exist; nobody reads them.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "err/err_table.h"
#include "err/protocol.h"
#include "err/report.h"
#include "log_check.h"
#include "rtx/rtx.h"
#include "rtx/rtx_host.h"
#include "task_state.h"

namespace reliability {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Module 3 of the tests: one user error and one system error, archived, no actions.
constexpr std::uint16_t kTestModule = 3;
constexpr std::uint16_t kUserError = 30001;
constexpr std::uint16_t kSystemError = 30002;

inline ErrTableEntry* test_table() {
    static ErrTableEntry table[] = {
        {kUserError, EF_ARCHIVE, 0, ACT_NONE, ACT_NONE, "Rel user %s", nullptr, "REL", nullptr,
         nullptr},
        {kSystemError, EF_SYSTEM | EF_ARCHIVE, 0, ACT_NONE, ACT_NONE, "Rel system %s", nullptr,
         "REL", nullptr, nullptr},
        {ERR_TABLE_END, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    return table;
}

inline Bytes read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool contains(const Bytes& bytes, const std::string& text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

class System {
  public:
    enum class Start { serving, suspended };

    System() {
        char folder[] = "/tmp/err_reliability_XXXXXX";
        const char* made = mkdtemp(folder);
        EXPECT_NE(made, nullptr);
        root_ = made ? made : "/tmp/err_reliability";
        fs::create_directories(root_ + "/LOG");
        std::ofstream ini(root_ + "/TARNBOOT.INI");
        ini << "[ErrorTask]\nSystemLogFile=\\LOG\\SYSERR.LOG\nUserLogFile=\\LOG\\USERERR.LOG\n";
        E_RemoveErrorTable(kTestModule);
        E_RegisterErrorTable(kTestModule, test_table());
    }
    ~System() {
        stop();
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    System(const System&) = delete;
    System& operator=(const System&) = delete;

    const std::string& root() const { return root_; }
    std::string path(const std::string& relative) const { return root_ + "/" + relative; }

    // Starts the executive and the error task. serving: the task answered a message;
    // suspended: it stopped in its start-up. The console is cleared first. prepare runs on the
    // fresh executive just before the system start (to inject faults, set limits).
    Start start(const std::function<void()>& prepare = nullptr) {
        stop();
        // The first start of a process finds the executive as the library's load left it; a
        // later one prepares a fresh executive and task state, as after a power cycle.
        static bool first = true;
        if (!first) {
            rtx_host_reset();
            err::reset_task_state();
            register_init_function(&init_function, "ERR.DLL init function");
        }
        first = false;
        rtx_host_console_echo(0);
        rtx_host_console_clear();
        rtx_host_set_root(root_.c_str());
        rtx_host_set_ini_dir(root_.c_str());
        error_mbx_ = rtx_host_create_mailbox(CATALOG_ERROR_MBX);
        rtx_host_create_mailbox(CATALOG_ERROR_QMBX);
        rtx_host_create_mailbox(CATALOG_GUI_MBX);
        rtx_host_create_mailbox(CATALOG_IECSTATE_MBX);
        reply_mbx_ = rtx_host_create_mailbox("\x0aREL_REPLY_");
        if (prepare) prepare();
        running_ = true;
        rtx_host_system_start();
        return sync() ? Start::serving : Start::suspended;
    }

    // Ends every task of the executive.
    void stop() {
        if (running_) rtx_host_shutdown();
        running_ = false;
    }

    // Sends an empty message that asks for an answer and waits for its default response;
    // false when the error task is suspended instead.
    bool sync() {
        Bytes m(MSG_HEADER_SIZE, 0);
        m[MSG_REPLY_MODE] = REPLY_MODE_TO_MBX;
        m[MSG_REPLY_MBX] = std::uint8_t(reply_mbx_);
        m[MSG_REPLY_MBX + 1] = std::uint8_t(reply_mbx_ >> 8);
        return request(m).size() >= MSG_HEADER_SIZE;
    }

    // Sends message (reply_mode and reply_mbx are set here) and returns what comes back on the
    // reply mailbox; empty when the task is suspended or nothing comes within 30 s.
    Bytes request(Bytes message) {
        message[MSG_REPLY_MODE] = REPLY_MODE_TO_MBX;
        message[MSG_REPLY_MODE + 1] = 0;
        message[MSG_REPLY_MBX] = std::uint8_t(reply_mbx_);
        message[MSG_REPLY_MBX + 1] = std::uint8_t(reply_mbx_ >> 8);
        rtx_status status{};
        std::uint16_t segment = 0;
        old_rtx_global_alloc(&segment, std::uint32_t(message.size()), 0, 0, &status, "reliability",
                             __LINE__);
        EXPECT_EQ(status.status, RTX_OK);
        if (status.status != RTX_OK) return {};
        std::copy(message.begin(), message.end(), static_cast<std::uint8_t*>(buildptr(segment, 0)));
        _rtx_sendmessage(error_mbx_, segment, 0, &status);
        EXPECT_EQ(status.status, RTX_OK);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < limit) {
            std::uint16_t got = 0;
            _rtx_getmessage(&got, reply_mbx_, 10, 0, &status);
            if (status.status == RTX_OK) {
                const auto* p = static_cast<const std::uint8_t*>(buildptr(got, 0));
                Bytes answer(p, p + rtx_segment_size(got));
                rtx_global_free(got, &status);
                return answer;
            }
            if (rtx_host_task_suspended(CATALOG_ERROR_TASK)) return {};
        }
        ADD_FAILURE() << "the error task neither answered nor was suspended";
        return {};
    }

    // Reports an error as any module does, then waits until the task has handled it.
    void report(std::uint16_t number, const std::string& info) {
        EReportError("reliability.cpp", 1, number, info.c_str());
        EXPECT_TRUE(sync());
    }

    std::string console() const { return rtx_host_console_text(); }

    Bytes log(const char* name) const { return read_bytes(path(std::string("LOG/") + name)); }
    bool log_valid(const char* name) const {
        Bytes b = log(name);
        return err::check_log_image(b.data(), b.size()).ok();
    }

    std::uint16_t error_mbx() const { return error_mbx_; }

  private:
    std::string root_;
    std::uint16_t error_mbx_ = 0;
    std::uint16_t reply_mbx_ = 0;
    bool running_ = false;
};

}  // namespace reliability
