// A running error task on the host executive, with simulated partner tasks, for integration
// tests.
//
// The harness prepares a temporary root folder (with a LOG folder and a TARNBOOT.INI that names
// the two logs), silences the console echo, creates the mailboxes the error task looks up
// (ERROR_MBX, ERROR_QMBX, GUI_MBX, IECSTATE_MBX and API_MBX) and a reply mailbox of its own,
// and runs three partner threads:
//   - the user-interface task on GUI_MBX: records every box request and, for a request with
//     reply_mode 2 and buttons, sends the 22-byte answer embedded for the chosen button as a
//     message of its own to reply_mbx (or runs a responder the test installs);
//   - the remote-control status task on IECSTATE_MBX: records every status text and
//     acknowledges it with a header-only message to reply_mbx;
//   - the API task on API_MBX: records every notification.
// start() runs the executive's system start (init_function was registered when the library
// was loaded) and waits until the task serves its mailbox. The destructor shuts the executive
// down and removes the folder.
//
// One harness at a time. A later harness in the same process resets the executive and the
// task state and registers init_function again, so several cases may share one process.
// Register test tables (register_table) before start().
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "err/err_table.h"

namespace errtest {

using Bytes = std::vector<std::uint8_t>;

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
// A 220-byte report block (command 601) as EReportError builds it.
Bytes report_block(std::uint16_t error_nr, const std::string& info = "", std::int32_t line = 0,
                   const std::string& file = "");
// A message: 12-byte header (reply_mode 0, replied words 0) and the blocks; block_count is
// the number of blocks.
Bytes message(std::uint16_t sender_id, std::initializer_list<Bytes> blocks);

// A definition for a test table. Tables end with end_entry().
ErrTableEntry entry(std::uint16_t id, std::uint16_t flags, std::uint16_t action_a,
                    const char* text_a, const char* component = "TEST",
                    MbKindFunction kind_a = nullptr, std::uint16_t action_b = 0,
                    const char* text_b = nullptr, MbKindFunction kind_b = nullptr);
ErrTableEntry end_entry();
// Registers table under module, after emptying the slot: a table left registered by an
// earlier harness of the same process is replaced, and its states start at ES_ALL again.
void register_table(std::uint16_t module, ErrTableEntry* table);

// The entries of an exported archive file, as the tests read them back.
struct ArchivedError {
    int record = 0;
    std::string code;  // five digits as stored
    std::string text;
    std::string component;
};
struct ArchiveFile {
    bool answered = false;  // the export was answered (export_log returned true)
    std::string raw;
    int count = -1;
    int new_records = -1;
    bool overflow = false;
    std::vector<ArchivedError> errors;
};

struct HarnessOptions {
    // Mailboxes that exist when the task starts; a missing one makes its lookup fail.
    bool error_qmbx = true;
    bool gui_mbx = true;
    bool iecstate_mbx = true;
    bool api_mbx = true;
    bool log_folder = true;  // without it the logs cannot be created
};

class TaskHarness {
  public:
    explicit TaskHarness(HarnessOptions options = {});
    ~TaskHarness();
    TaskHarness(const TaskHarness&) = delete;
    TaskHarness& operator=(const TaskHarness&) = delete;

    // System start, then sync(): the task is in its main loop afterwards.
    void start();
    // System start only (for start-ups that suspend the task).
    void start_only();
    // Waits until the error task is suspended; false (and a test failure) if it never is.
    bool wait_until_suspended();
    void resume();

    // ---- Talking to the task ----
    // Sends bytes as a segment of exactly their size to ERROR_MBX.
    void send(const Bytes& message);
    // Sends message with reply_mode 2 and the harness's reply mailbox, returns the one
    // message that comes back (the answer, or the default response).
    Bytes request(Bytes message);
    // A report with reply_mode 2: returns the answer.
    Bytes report(std::uint16_t error_nr, const std::string& info = "");
    // A report without an answer.
    void report_quietly(std::uint16_t error_nr, const std::string& info = "");
    // A command without data, no answer.
    void command(std::uint16_t code, const Bytes& data = {});
    // An empty message with reply_mode 2; returns when its default response is back, so
    // everything sent before has been handled.
    void sync();
    // sync(), then lets the partner tasks take everything the task sent them (a marker
    // through each of their mailboxes), then sync() again for what they sent back to
    // ERROR_MBX. Afterwards the records are complete.
    void settle();
    // Segments alive in the executive once the task has given back the request of the last
    // sync (it frees a request just after answering it). Call after settle() or sync().
    std::uint64_t live_segments() const;
    // Next message on the reply mailbox, waiting at most a while (empty when none).
    Bytes receive_reply();
    std::uint32_t replies_waiting() const;

    // ---- Export, to look into a log ----
    ArchiveFile export_log(int log_id, const std::string& name = "\\EXPORT.TXT");

    // ---- The user-interface task ----
    // Button index chosen for boxes with buttons (clamped to the buttons there are).
    void choose_button(int index);
    // Before the chosen answer, also send two messages that do not match the box (another
    // command, another sequence number) to the same mailbox.
    void send_strays(bool on);
    // Replaces the default answering; called in the UI thread with each request.
    using Responder = std::function<void(const Bytes& request)>;
    void set_responder(Responder responder);
    // Waits until the UI task has handled count requests in all.
    void wait_for_boxes(std::size_t count);

    // ---- Records ----
    std::vector<Bytes> box_requests() const;
    std::vector<Bytes> status_texts() const;
    std::vector<Bytes> api_messages() const;

    // ---- Console and state ----
    std::string console() const;
    void clear_console();
    std::uint16_t error_mbx() const { return error_mbx_; }
    std::uint16_t error_qmbx() const { return error_qmbx_; }
    std::uint16_t reply_mbx() const { return reply_mbx_; }
    const std::string& root() const { return root_; }
    std::string host_path(const std::string& relative) const;  // root + "/" + relative

    // Sends bytes as a new segment to mailbox (harness threads and tests).
    static void send_to(std::uint16_t mailbox, const Bytes& bytes);

  private:
    void ui_loop();
    void status_loop();
    void api_loop();
    void answer_box(const Bytes& request);
    void count_marker();

    HarnessOptions options_;
    std::string root_;
    std::uint16_t error_mbx_ = 0, error_qmbx_ = 0, gui_mbx_ = 0, iecstate_mbx_ = 0, api_mbx_ = 0;
    std::uint16_t reply_mbx_ = 0;
    std::uint16_t sync_sender_ = 0x7000;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Bytes> boxes_, status_, api_;
    std::size_t boxes_handled_ = 0;
    std::size_t markers_ = 0;
    int button_ = 0;
    bool strays_ = false;
    Responder responder_;

    std::vector<std::thread> threads_;
    bool started_ = false;
};

}  // namespace errtest
