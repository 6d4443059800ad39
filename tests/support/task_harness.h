// A running error task in a host system (host_system/world.h), with recording partner tasks,
// for integration tests. The harness makes a temporary root folder (a LOG folder and a
// TARNBOOT.INI naming the two logs), a world with the mailboxes the task looks up, a reply
// mailbox and one thread per partner task, each recording what it takes:
//   - the user-interface task on GUI_MBX answers a box that wants an answer with the chosen
//     button's embedded answer (or runs the test's responder);
//   - the remote-control status task on IECSTATE_MBX acknowledges each status text;
//   - the API task on API_MBX only records.
// One harness at a time: a later one in the same process restarts the executive and the
// module. Register test tables before start(). This header brings what a task test needs:
// gtest, the module's headers, the executive's test controls and the message helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "err/err.h"
#include "host_system/messages.h"
#include "host_system/world.h"
#include "rtx/rtx_host.h"
#include "task_state.h"

namespace errtest {

using host_system::block;
using host_system::Bytes;
using host_system::concat;
using host_system::get16;
using host_system::message;
using host_system::put16;
using host_system::text_bytes;
using host_system::words;
using Texts = std::vector<std::string>;

// A 220-byte report block (command 601) as EReportError builds it, without line and file.
Bytes report_block(std::uint16_t error_nr, const std::string& info = "");

// ---- What the task answers and prints ----
// The result word of a report's answer.
std::uint16_t result_of(const Bytes& answer);
// The default response to a request from sender: header only, its replied_tag echoed.
Bytes default_response(std::uint16_t sender, std::uint16_t replied_tag = 0);
// A note of the task on the console: "error_task:", its underline, body and a line end.
std::string task_note(const std::string& body);
// The two notes printed when the file of log_id (0 system, 1 user) cannot be opened for what,
// e.g. "Failed to erase all errors".
std::string log_failure(int log_id, const std::string& what);

// A definition for a test table. Tables end with end_entry().
ErrTableEntry entry(std::uint16_t id, std::uint16_t flags, std::uint16_t action_a,
                    const char* text_a, const char* component = "TEST",
                    MbKindFunction kind_a = nullptr, std::uint16_t action_b = 0,
                    const char* text_b = nullptr, MbKindFunction kind_b = nullptr);
ErrTableEntry end_entry();
// Registers table under module, after emptying the slot: a table left registered by an
// earlier harness of the same process is replaced, and its states start at ES_ALL again.
void register_table(std::uint16_t module, ErrTableEntry* table);

// An exported archive file as the tests read it back: its bytes, whether the export was
// answered, and per error (newest first) the code (five digits), text and component.
struct ArchivedError {
    std::string code, text, component;
};
struct ArchiveFile {
    bool answered = false;
    std::string raw;
    std::vector<ArchivedError> errors;
};
// The error texts of file, newest first.
Texts texts(const ArchiveFile& file);

// Waits until done() holds; false, and a failure naming what, when it still does not after
// a long while (a guard against a hung task, not a timing check).
bool wait_until(const std::function<bool()>& done, const char* what);

struct HarnessOptions {
    bool error_qmbx = true;  // without it the task's second lookup fails
    bool api_mbx = true;     // without it the notifications find no API task
    bool log_folder = true;  // without it the logs cannot be created
};

class TaskHarness : private host_system::PartnerTasks {
  public:
    explicit TaskHarness(HarnessOptions options = {});
    ~TaskHarness() override = default;

    // System start, then sync(): the task is in its main loop afterwards.
    void start() {
        world_.start();
        sync();
    }
    // Waits until the error task is suspended; false (and a test failure) if it never is.
    bool wait_until_suspended();
    // The system start for a start-up that suspends the task.
    bool start_suspended() {
        world_.start();
        return wait_until_suspended();
    }
    void resume() { EXPECT_EQ(rtx_host_resume_task(CATALOG_ERROR_TASK), 0); }
    // Waits until the error task and every partner task are blocked in their receive: a
    // receive fault armed after this hits the error task's next wait and no partner's.
    void wait_until_receivers_wait();

    // ---- Talking to the task ----
    // Sends bytes as a segment of exactly their size to ERROR_MBX.
    void send(const Bytes& message) { send_to(world_.error_mbx(), message); }
    // Sends message with reply_mode 2 and the harness's reply mailbox; request() also
    // returns the one message that comes back (the answer, or the default response).
    void send_asking(const Bytes& message) {
        EXPECT_TRUE(world_.send_asking(message, "task_harness", __LINE__));
    }
    Bytes request(const Bytes& message) {
        send_asking(message);
        return receive_reply();
    }
    // A report asking for an answer, which is returned; a report without one; a command.
    Bytes report(std::uint16_t nr, const std::string& info = "") {
        return request(message(0x0601, {report_block(nr, info)}));
    }
    void report_quietly(std::uint16_t nr, const std::string& info = "") {
        send(message(0x0601, {report_block(nr, info)}));
    }
    void command(std::uint16_t code, const Bytes& data = {}) {
        send(message(0x0C0D, {block(code, data)}));
    }
    // An empty message with reply_mode 2; returns when its default response is back, so
    // everything sent before has been handled. Fails when another answer comes first.
    void sync();
    // sync(), then lets the partner tasks take everything the task sent them, then sync()
    // again for what they sent back to ERROR_MBX. Afterwards the records are complete.
    void settle() {
        sync();
        EXPECT_TRUE(world_.flush_partners()) << "a partner task got no marker";
        sync();
    }
    // Segments alive in the executive once the task has given back the request of the last
    // sync (it frees a request just after answering it). Call after settle() or sync().
    std::uint64_t live_segments() const;
    // Next message on the reply mailbox, waiting at most a while (empty when none).
    Bytes receive_reply();

    // ---- Export, to look into a log ----
    ArchiveFile export_log(int log_id, const std::string& name = "\\EXPORT.TXT");

    // ---- The user-interface task ----
    // Button index chosen for boxes that want an answer (clamped to the buttons there are);
    // with strays, two messages that do not match the box (another command, another sequence
    // number) go to the same mailbox before the chosen answer.
    void choose_button(int index, bool strays = false) {
        std::lock_guard<std::mutex> lock(mutex_);
        button_ = index;
        strays_ = strays;
    }
    // Replaces the default answering; called in the UI thread with each request.
    using Responder = std::function<void(const Bytes& request)>;
    void set_responder(Responder responder) {
        std::lock_guard<std::mutex> lock(mutex_);
        responder_ = std::move(responder);
    }

    // ---- Records of the partner tasks ----
    std::vector<Bytes> box_requests() const { return records(host_system::Partner::ui); }
    std::vector<Bytes> status_texts() const { return records(host_system::Partner::status); }
    std::vector<Bytes> api_messages() const { return records(host_system::Partner::api); }

    // ---- Console and files ----
    // Everything printed on the console since the last take; the console is empty afterwards.
    std::string take_console() {
        std::string text = rtx_host_console_text();
        rtx_host_console_clear();
        return text;
    }
    std::uint16_t error_mbx() const { return world_.error_mbx(); }
    std::uint16_t error_qmbx() const { return world_.error_qmbx(); }
    std::uint16_t gui_mbx() const { return world_.gui_mbx(); }
    const std::string& root() const { return root_.path(); }
    std::string host_path(const std::string& relative) const { return root_.host_path(relative); }
    // The bytes of the file at relative (host form, "LOG/SYSERR.LOG"), empty when there is none.
    std::string file_text(const std::string& relative) const { return root_.text(relative); }

    // Sends bytes as a new segment to mailbox (harness threads and tests).
    static void send_to(std::uint16_t mailbox, const Bytes& bytes);

  private:
    void take(host_system::Partner partner, const Bytes& message, const void* request) override;
    std::optional<std::size_t> choose(const host_system::BoxRequest& box) override;
    std::vector<Bytes> records(host_system::Partner partner) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_[static_cast<int>(partner)];
    }

    mutable std::mutex mutex_;
    std::vector<Bytes> received_[3];
    int button_ = 0;
    bool strays_ = false;
    Responder responder_;
    host_system::Root root_;
    host_system::World world_;  // last: its partner threads end before the records go
};

// A fixture for the tests of one table: registers Table under Module and starts a harness h.
// At the end the console must hold nothing the test did not take, so a test that takes none
// pins down that nothing was printed.
template <std::uint16_t Module, ErrTableEntry* Table>
class TaskTest : public ::testing::Test {
  protected:
    void SetUp() override {
        register_table(Module, Table);
        h.start();
    }
    void TearDown() override { EXPECT_EQ(h.take_console(), "") << "printed and not checked"; }
    TaskHarness h;
};

}  // namespace errtest
