// A running error task on the host executive, with simulated partner tasks, for integration
// tests. The harness makes a temporary root folder (a LOG folder and a TARNBOOT.INI naming the
// two logs), silences the console echo, creates the mailboxes the task looks up and a reply
// mailbox of its own, and runs three partner threads, each recording what it receives:
//   - the user-interface task on GUI_MBX answers a box with reply_mode 2 and buttons by sending
//     the answer embedded for the chosen button to reply_mbx (or runs the test's responder);
//   - the remote-control status task on IECSTATE_MBX acknowledges each status text;
//   - the API task on API_MBX only records.
// One harness at a time: a later one in the same process resets the executive and the task
// state and registers init_function again. Register test tables before start(). This header
// brings what a task test needs: gtest, the module's headers and the executive's test controls.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "err/err.h"
#include "rtx/rtx_host.h"
#include "task_state.h"

namespace errtest {

using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;

// ---- Little-endian bytes ----
void put16(Bytes& bytes, std::size_t offset, std::uint16_t value);
std::uint16_t get16(const Bytes& bytes, std::size_t offset);  // 0 past the end
Bytes words(std::initializer_list<std::uint16_t> values);
Bytes text_bytes(const std::string& text, bool with_zero);
Bytes concat(std::initializer_list<Bytes> parts);

// ---- Messages for ERROR_MBX ----
// A command block: 8-byte head (block_length = 8 + data size) and data.
Bytes block(std::uint16_t command, const Bytes& data = {}, std::uint16_t tag1 = 0,
            std::uint16_t tag2 = 0);
// A 220-byte report block (command 601) as EReportError builds it, without line and file.
Bytes report_block(std::uint16_t error_nr, const std::string& info = "");
// A message: 12-byte header (reply_mode 0, replied words 0, replied_tag as given) and the
// blocks; block_count is the number of blocks.
Bytes message(std::uint16_t sender_id, std::initializer_list<Bytes> blocks,
              std::uint16_t replied_tag = 0);

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

class TaskHarness {
  public:
    explicit TaskHarness(HarnessOptions options = {});
    ~TaskHarness();  // not copyable: it owns threads and a mutex

    // System start, then sync(): the task is in its main loop afterwards.
    void start() {
        rtx_host_system_start();
        sync();
    }
    // Waits until the error task is suspended; false (and a test failure) if it never is.
    bool wait_until_suspended();
    // The system start for a start-up that suspends the task.
    bool start_suspended() {
        rtx_host_system_start();
        return wait_until_suspended();
    }
    void resume() { EXPECT_EQ(rtx_host_resume_task(CATALOG_ERROR_TASK), 0); }
    // Waits until the error task and every partner task are blocked in their receive: a
    // receive fault armed after this hits the error task's next wait and no partner's.
    void wait_until_receivers_wait() {
        for (std::uint16_t mbx : {error_mbx_, partner_mbx_[0], partner_mbx_[1], partner_mbx_[2]})
            if (mbx != 0)
                wait_until([mbx] { return rtx_host_mailbox_waiters(mbx) != 0; }, "a receiver");
    }

    // ---- Talking to the task ----
    // Sends bytes as a segment of exactly their size to ERROR_MBX.
    void send(const Bytes& message) { send_to(error_mbx_, message); }
    // Sends message with reply_mode 2 and the harness's reply mailbox; request() also
    // returns the one message that comes back (the answer, or the default response).
    void send_asking(Bytes message) {
        put16(message, MSG_REPLY_MODE, REPLY_MODE_TO_MBX);
        put16(message, MSG_REPLY_MBX, reply_mbx_);
        send(message);
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
    void sync() {
        const std::uint16_t sender = ++sync_sender_;
        EXPECT_EQ(request(message(sender, {})), default_response(sender)) << "an answer came first";
    }
    // sync(), then lets the partner tasks take everything the task sent them (a marker
    // through each of their mailboxes), then sync() again for what they sent back to
    // ERROR_MBX. Afterwards the records are complete.
    void settle();
    // Segments alive in the executive once the task has given back the request of the last
    // sync (it frees a request just after answering it). Call after settle() or sync().
    std::uint64_t live_segments() const;
    // Next message on the reply mailbox, waiting at most a while (empty when none).
    Bytes receive_reply();

    // ---- Export, to look into a log ----
    ArchiveFile export_log(int log_id, const std::string& name = "\\EXPORT.TXT");

    // ---- The user-interface task ----
    // Button index chosen for boxes with buttons (clamped to the buttons there are); with
    // strays, two messages that do not match the box (another command, another sequence
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
    std::vector<Bytes> box_requests() const { return records(kGui); }
    std::vector<Bytes> status_texts() const { return records(kStatus); }
    std::vector<Bytes> api_messages() const { return records(kApi); }

    // ---- Console and files ----
    // Everything printed on the console since the last take; the console is empty afterwards.
    std::string take_console() {
        std::string text = rtx_host_console_text();
        rtx_host_console_clear();
        return text;
    }
    std::uint16_t error_mbx() const { return error_mbx_; }
    std::uint16_t error_qmbx() const { return error_qmbx_; }
    std::uint16_t gui_mbx() const { return partner_mbx_[kGui]; }
    const std::string& root() const { return root_; }
    std::string host_path(const std::string& relative) const { return root_ + "/" + relative; }
    // The bytes of the file at relative (host form, "LOG/SYSERR.LOG"), empty when there is none.
    std::string file_text(const std::string& relative) const;

    // Sends bytes as a new segment to mailbox (harness threads and tests).
    static void send_to(std::uint16_t mailbox, const Bytes& bytes);

  private:
    enum Which { kGui, kStatus, kApi };
    void serve(Which which, std::uint16_t mailbox);
    void answer_box(const Bytes& request);
    std::vector<Bytes> records(Which which) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_[which];
    }

    std::string root_;
    std::uint16_t error_mbx_ = 0, error_qmbx_ = 0, reply_mbx_ = 0;
    std::uint16_t partner_mbx_[3] = {};  // 0 for a partner that has none
    std::uint16_t sync_sender_ = 0x7000;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Bytes> received_[3];
    std::size_t markers_ = 0;
    int button_ = 0;
    bool strays_ = false;
    Responder responder_;
    std::vector<std::thread> threads_;
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
