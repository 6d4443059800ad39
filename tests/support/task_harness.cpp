#include "support/task_harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "err/protocol.h"
#include "err/report.h"
#include "task_state.h"
#include "rtx/rtx.h"
#include "rtx/rtx_host.h"

namespace errtest {

namespace {

constexpr std::uint16_t kReplyWaitMs = 20000;  // guards against a hung task, not a timing check
constexpr const char* kErrorTaskName = CATALOG_ERROR_TASK;

// The error task never sends a one-byte segment: the harness uses one to find out when a
// partner thread has taken everything queued before it.
bool is_marker(const Bytes& bytes) {
    return bytes.size() == 1;
}

Bytes copy_segment(std::uint16_t segment) {
    const auto* p = static_cast<const std::uint8_t*>(buildptr(segment, 0));
    const std::uint32_t size = p ? rtx_segment_size(segment) : 0;
    return p ? Bytes(p, p + size) : Bytes();
}

void free_segment(std::uint16_t segment) {
    rtx_status status{};
    rtx_global_free(segment, &status);
}

// Takes one message from mailbox and gives its segment back. False when the wait failed
// (the executive is shutting down, or the wait ran out).
bool take(std::uint16_t mailbox, std::uint16_t timeout, Bytes& out) {
    std::uint16_t segment = 0;
    rtx_status status{};
    _rtx_getmessage(&segment, mailbox, timeout, 0, &status);
    if (status.status != RTX_OK) return false;
    out = copy_segment(segment);
    free_segment(segment);
    return true;
}

std::vector<std::string> crlf_lines(const std::string& raw) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < raw.size()) {
        std::size_t end = raw.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(raw.substr(pos));
            break;
        }
        lines.push_back(raw.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

void parse_archive(ArchiveFile& file) {
    const std::vector<std::string> lines = crlf_lines(file.raw);
    if (lines.size() < 3) return;
    file.count = std::atoi(lines[0].c_str());
    file.new_records = std::atoi(lines[1].c_str());
    file.overflow = lines[2] == "O";
    std::size_t i = 3 + (file.overflow ? 7 : 0);
    while (i + 1 < lines.size()) {
        ArchivedError e;
        e.record = std::atoi(lines[i].c_str());
        e.code = lines[i + 1];
        i += 2;
        std::string text;
        bool first = true;
        while (i < lines.size() && lines[i] != "$$$") {
            text += (first ? "" : "\n") + lines[i];
            first = false;
            ++i;
        }
        e.text = text;
        ++i;  // "$$$"
        if (i < lines.size()) e.component = lines[i];
        i += 3;  // component, date, time
        file.errors.push_back(e);
    }
}

}  // namespace

// ---- Bytes ----

void put16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
    if (bytes.size() < offset + 2) bytes.resize(offset + 2);
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint16_t get16(const Bytes& bytes, std::size_t offset) {
    if (offset + 2 > bytes.size()) return 0;
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

Bytes words(std::initializer_list<std::uint16_t> values) {
    Bytes out;
    for (std::uint16_t v : values) put16(out, out.size(), v);
    return out;
}

Bytes text_bytes(const std::string& text, bool with_zero) {
    Bytes out(text.begin(), text.end());
    if (with_zero) out.push_back(0);
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes block(std::uint16_t command, const Bytes& data, std::uint16_t tag1, std::uint16_t tag2) {
    Bytes out =
        words({command, static_cast<std::uint16_t>(BLK_HEAD_SIZE + data.size()), tag1, tag2});
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes report_block(std::uint16_t error_nr, const std::string& info, std::int32_t line,
                   const std::string& file) {
    Bytes out(REPORT_BLOCK_LENGTH, 0);
    put16(out, BLK_COMMAND, CMD_REPORT_ERROR);
    put16(out, BLK_LENGTH, REPORT_BLOCK_LENGTH);
    put16(out, REPORT_ERROR_NR, error_nr);
    const auto l = static_cast<std::uint32_t>(line);
    for (int i = 0; i < 4; ++i) out[REPORT_LINE + i] = static_cast<std::uint8_t>(l >> (8 * i));
    std::memcpy(out.data() + REPORT_FILE, file.data(), std::min<std::size_t>(file.size(), 80));
    std::memcpy(out.data() + REPORT_INFO, info.data(), std::min<std::size_t>(info.size(), 120));
    return out;
}

Bytes message(std::uint16_t sender_id, std::initializer_list<Bytes> blocks) {
    Bytes out = words({sender_id, 0, 0, 0, 0, static_cast<std::uint16_t>(blocks.size())});
    for (const Bytes& b : blocks) out.insert(out.end(), b.begin(), b.end());
    return out;
}

ErrTableEntry entry(std::uint16_t id, std::uint16_t flags, std::uint16_t action_a,
                    const char* text_a, const char* component, MbKindFunction kind_a,
                    std::uint16_t action_b, const char* text_b, MbKindFunction kind_b) {
    ErrTableEntry e{};
    e.id = id;
    e.flags = flags;
    e.state = 0;
    e.action_a = action_a;
    e.action_b = action_b;
    e.text_a = text_a;
    e.text_b = text_b ? text_b : text_a;
    e.component = component;
    e.mb_kind_a = kind_a;
    e.mb_kind_b = kind_b;
    return e;
}

void register_table(std::uint16_t module, ErrTableEntry* table) {
    E_RemoveErrorTable(module);
    E_RegisterErrorTable(module, table);
}

ErrTableEntry end_entry() {
    ErrTableEntry e{};
    e.id = ERR_TABLE_END;
    e.text_a = "END OF TABLE";
    return e;
}

// ---- Harness ----

TaskHarness::TaskHarness(HarnessOptions options) : options_(options) {
    // The first harness of a process finds the executive as the library's load left it
    // (init_function registered); a later one starts from a fresh executive and task state.
    static bool used = false;
    if (used) {
        rtx_host_reset();
        err::reset_task_state();
        register_init_function(&init_function, "ERR.DLL init function");
    }
    used = true;
    char folder[] = "/tmp/err_task_XXXXXX";
    const char* made = mkdtemp(folder);
    EXPECT_NE(made, nullptr);
    root_ = made ? made : "/tmp";
    if (options_.log_folder) std::filesystem::create_directory(root_ + "/LOG");
    {
        std::ofstream ini(root_ + "/TARNBOOT.INI");
        ini << "[ErrorTask]\nSystemLogFile=\\LOG\\SYSERR.LOG\nUserLogFile=\\LOG\\USERERR.LOG\n";
    }
    rtx_host_console_echo(0);
    rtx_host_set_root(root_.c_str());
    rtx_host_set_ini_dir(root_.c_str());

    error_mbx_ = rtx_host_create_mailbox(CATALOG_ERROR_MBX);
    if (options_.error_qmbx) error_qmbx_ = rtx_host_create_mailbox(CATALOG_ERROR_QMBX);
    if (options_.gui_mbx) gui_mbx_ = rtx_host_create_mailbox(CATALOG_GUI_MBX);
    if (options_.iecstate_mbx) iecstate_mbx_ = rtx_host_create_mailbox(CATALOG_IECSTATE_MBX);
    if (options_.api_mbx) api_mbx_ = rtx_host_create_mailbox(CATALOG_API_MBX);
    reply_mbx_ = rtx_host_create_mailbox("\x0aTEST_REPLY");
    EXPECT_NE(error_mbx_, 0);
    EXPECT_NE(reply_mbx_, 0);

    if (gui_mbx_) threads_.emplace_back([this] { ui_loop(); });
    if (iecstate_mbx_) threads_.emplace_back([this] { status_loop(); });
    if (api_mbx_) threads_.emplace_back([this] { api_loop(); });
}

TaskHarness::~TaskHarness() {
    // Ends the task threads; the partner threads get RTX_E_SHUTDOWN from their waits.
    rtx_host_shutdown();
    for (std::thread& t : threads_) t.join();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void TaskHarness::start_only() {
    ASSERT_FALSE(started_);
    started_ = true;
    rtx_host_system_start();
}

void TaskHarness::start() {
    start_only();
    sync();
}

bool TaskHarness::wait_until_suspended() {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!rtx_host_task_suspended(kErrorTaskName)) {
        if (std::chrono::steady_clock::now() > limit) {
            ADD_FAILURE() << "the error task was never suspended";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void TaskHarness::resume() {
    EXPECT_EQ(rtx_host_resume_task(kErrorTaskName), 0);
}

void TaskHarness::send_to(std::uint16_t mailbox, const Bytes& bytes) {
    std::uint16_t segment = 0;
    rtx_status status{};
    old_rtx_global_alloc(&segment, static_cast<std::uint32_t>(bytes.size()), 0, 0, &status,
                         "task_harness", __LINE__);
    ASSERT_EQ(status.status, RTX_OK);
    if (!bytes.empty()) std::memcpy(buildptr(segment, 0), bytes.data(), bytes.size());
    _rtx_sendmessage(mailbox, segment, 0, &status);
    if (status.status != RTX_OK) free_segment(segment);
    ASSERT_EQ(status.status, RTX_OK);
}

void TaskHarness::send(const Bytes& message) {
    send_to(error_mbx_, message);
}

Bytes TaskHarness::receive_reply() {
    Bytes out;
    if (!take(reply_mbx_, kReplyWaitMs, out)) ADD_FAILURE() << "no message on the reply mailbox";
    return out;
}

std::uint32_t TaskHarness::replies_waiting() const {
    return rtx_host_mailbox_depth(reply_mbx_);
}

Bytes TaskHarness::request(Bytes message) {
    put16(message, MSG_REPLY_MODE, REPLY_MODE_TO_MBX);
    put16(message, MSG_REPLY_MBX, reply_mbx_);
    send(message);
    return receive_reply();
}

Bytes TaskHarness::report(std::uint16_t error_nr, const std::string& info) {
    return request(errtest::message(0x0601, {report_block(error_nr, info)}));
}

void TaskHarness::report_quietly(std::uint16_t error_nr, const std::string& info) {
    send(errtest::message(0x0601, {report_block(error_nr, info)}));
}

void TaskHarness::command(std::uint16_t code, const Bytes& data) {
    send(errtest::message(0x0C0D, {block(code, data)}));
}

void TaskHarness::sync() {
    const std::uint16_t sender = ++sync_sender_;
    const Bytes answer = request(errtest::message(sender, {}));
    // The default response: header only, replied_sender = the sync message's sender_id.
    EXPECT_EQ(answer.size(), 12u);
    EXPECT_EQ(get16(answer, MSG_SENDER_ID), ERR_SENDER_ID);
    EXPECT_EQ(get16(answer, MSG_REPLIED_SENDER), sender) << "an earlier answer was not taken";
}

void TaskHarness::settle() {
    sync();
    std::size_t expected = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        expected = markers_;
    }
    for (std::uint16_t mbx : {gui_mbx_, iecstate_mbx_, api_mbx_}) {
        if (mbx == 0) continue;
        send_to(mbx, Bytes{0});
        ++expected;
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(20),
                               [&] { return markers_ >= expected; })) {
            ADD_FAILURE() << "a partner task did not take its marker";
        }
    }
    sync();
}

std::uint64_t TaskHarness::live_segments() const {
    // The last sync request may still be on its way to rtx_global_free; give it a moment.
    rtx_host_counters counters{};
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        rtx_host_get_counters(&counters);
        if (counters.segments_in_use == 0 || std::chrono::steady_clock::now() > limit) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return counters.segments_in_use;
}

void TaskHarness::count_marker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++markers_;
    }
    changed_.notify_all();
}

ArchiveFile TaskHarness::export_log(int log_id, const std::string& name) {
    ArchiveFile file;
    const std::uint16_t command = log_id == 0 ? CMD_EXPORT_SYSTEM_LOG : CMD_EXPORT_USER_LOG;
    const Bytes answer = request(
        errtest::message(0x0E0E, {block(command, concat({words({0}), text_bytes(name, true)}))}));
    file.answered = answer.size() > MSG_HEADER_SIZE;
    std::string relative = name;
    for (char& c : relative)
        if (c == '\\') c = '/';
    std::ifstream in(root_ + relative, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    file.raw = content.str();
    parse_archive(file);
    return file;
}

std::string TaskHarness::host_path(const std::string& relative) const {
    return root_ + "/" + relative;
}

// ---- User-interface task ----

void TaskHarness::choose_button(int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    button_ = index;
}

void TaskHarness::send_strays(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    strays_ = on;
}

void TaskHarness::set_responder(Responder responder) {
    std::lock_guard<std::mutex> lock(mutex_);
    responder_ = std::move(responder);
}

void TaskHarness::wait_for_boxes(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(20),
                           [&] { return boxes_handled_ >= count; })) {
        ADD_FAILURE() << "the user-interface task got " << boxes_handled_ << " of " << count
                      << " box requests";
    }
}

void TaskHarness::answer_box(const Bytes& request) {
    // Offsets of the request's one block start at 12.
    constexpr std::size_t b = MSG_HEADER_SIZE;
    const std::uint16_t reply_mode = get16(request, MSG_REPLY_MODE);
    const std::uint16_t reply_to = get16(request, MSG_REPLY_MBX);
    const std::uint16_t buttons = get16(request, b + BOX_BUTTON_COUNT);
    if (reply_mode != REPLY_MODE_TO_MBX || buttons == 0) return;
    int index = 0;
    bool strays = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        index = button_;
        strays = strays_;
    }
    if (index >= buttons) index = buttons - 1;
    if (index < 0) index = 0;
    const std::size_t desc = b + BOX_BUTTONS + BOX_BUTTON_DESC_SIZE * std::size_t(index);
    const std::size_t length = get16(request, desc + 2);
    const std::size_t at = b + get16(request, desc + 4);
    if (at + length > request.size()) {
        ADD_FAILURE() << "box answer outside the request";
        return;
    }
    Bytes answer(request.begin() + at, request.begin() + at + length);
    if (strays) {
        Bytes other_command = answer;
        put16(other_command, MSG_HEADER_SIZE + BLK_COMMAND, CMD_ASYNC_BOX_ANSWER);
        Bytes other_sequence = answer;
        put16(other_sequence, MSG_HEADER_SIZE + BLK_TAG1, get16(answer, 16) + 1);
        put16(other_sequence, MSG_HEADER_SIZE + BLK_TAG2, get16(answer, 18) + 1);
        send_to(reply_to, other_command);
        send_to(reply_to, other_sequence);
    }
    send_to(reply_to, answer);
}

void TaskHarness::ui_loop() {
    Bytes request;
    while (take(gui_mbx_, RTX_WAIT_FOREVER, request)) {
        if (is_marker(request)) {
            count_marker();
            continue;
        }
        Responder responder;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            boxes_.push_back(request);
            responder = responder_;
        }
        if (responder) {
            responder(request);
        } else {
            answer_box(request);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++boxes_handled_;
        }
        changed_.notify_all();
    }
}

void TaskHarness::status_loop() {
    Bytes text;
    while (take(iecstate_mbx_, RTX_WAIT_FOREVER, text)) {
        if (is_marker(text)) {
            count_marker();
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            status_.push_back(text);
        }
        if (get16(text, MSG_REPLY_MODE) == REPLY_MODE_TO_MBX) {
            // Any message acknowledges; this one is a bare header.
            send_to(get16(text, MSG_REPLY_MBX), words({0x1200, 0, 0, 0, 0, 0}));
        }
    }
}

void TaskHarness::api_loop() {
    Bytes note;
    while (take(api_mbx_, RTX_WAIT_FOREVER, note)) {
        if (is_marker(note)) {
            count_marker();
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        api_.push_back(note);
    }
}

std::vector<Bytes> TaskHarness::box_requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

std::vector<Bytes> TaskHarness::status_texts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

std::vector<Bytes> TaskHarness::api_messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return api_;
}

std::string TaskHarness::console() const {
    return rtx_host_console_text();
}

void TaskHarness::clear_console() {
    rtx_host_console_clear();
}

}  // namespace errtest
