#include "support/task_harness.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "rtx/rtx.h"

namespace errtest {

namespace {

constexpr std::uint16_t kReplyWaitMs = 20000;  // guards against a hung task, not a timing check
constexpr auto kLongWait = std::chrono::seconds(20);

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
    const auto* p = static_cast<const std::uint8_t*>(buildptr(segment, 0));
    out = p ? Bytes(p, p + rtx_segment_size(segment)) : Bytes();
    free_segment(segment);
    return true;
}

// An archive file: three lines of head (and seven of overflow), then per error its record,
// code, text lines, "$$$", component, date and time; lines end in CR LF.
void parse_archive(ArchiveFile& file) {
    std::vector<std::string> lines;
    std::istringstream in(file.raw);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    if (lines.size() < 3) return;
    for (std::size_t i = lines[2] == "O" ? 10 : 3; i + 1 < lines.size(); i += 4) {
        ArchivedError e;
        e.code = lines[i + 1];
        const std::size_t first = i + 2;
        for (i = first; i < lines.size() && lines[i] != "$$$"; ++i)
            e.text += (i > first ? "\n" : "") + lines[i];
        if (i + 1 < lines.size()) e.component = lines[i + 1];
        file.errors.push_back(e);
    }
}

}  // namespace

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
    return concat(
        {words({command, static_cast<std::uint16_t>(BLK_HEAD_SIZE + data.size()), tag1, tag2}),
         data});
}

Bytes report_block(std::uint16_t error_nr, const std::string& info) {
    Bytes out(REPORT_BLOCK_LENGTH, 0);
    put16(out, BLK_COMMAND, CMD_REPORT_ERROR);
    put16(out, BLK_LENGTH, REPORT_BLOCK_LENGTH);
    put16(out, REPORT_ERROR_NR, error_nr);
    std::memcpy(out.data() + REPORT_INFO, info.data(), std::min<std::size_t>(info.size(), 120));
    return out;
}

Bytes message(std::uint16_t sender_id, std::initializer_list<Bytes> blocks,
              std::uint16_t replied_tag) {
    Bytes out = words({sender_id, 0, 0, 0, replied_tag, static_cast<std::uint16_t>(blocks.size())});
    for (const Bytes& b : blocks) out.insert(out.end(), b.begin(), b.end());
    return out;
}

std::uint16_t result_of(const Bytes& answer) {
    return get16(answer, MSG_HEADER_SIZE + BLK_HEAD_SIZE);
}

Bytes default_response(std::uint16_t sender, std::uint16_t replied_tag) {
    return words({ERR_SENDER_ID, 0, 0, sender, replied_tag, 0});
}

std::string task_note(const std::string& body) {
    return "error_task:\n-----------\n" + body + "\n";
}

std::string log_failure(int log_id, const std::string& what) {
    const std::string file = log_id == 0 ? "SYSERR" : "USERERR";
    return task_note("Failed to open file \\LOG\\" + file + ".LOG") +
           task_note(what + "\non log_file " + (log_id == 0 ? "SYSTEM" : "USER"));
}

ErrTableEntry entry(std::uint16_t id, std::uint16_t flags, std::uint16_t action_a,
                    const char* text_a, const char* component, MbKindFunction kind_a,
                    std::uint16_t action_b, const char* text_b, MbKindFunction kind_b) {
    const char* b = text_b ? text_b : text_a;
    return {id, flags, 0, action_a, action_b, text_a, b, component, kind_a, kind_b};
}

ErrTableEntry end_entry() {
    return {ERR_TABLE_END, 0, 0, 0, 0, "END OF TABLE", nullptr, nullptr, nullptr, nullptr};
}

void register_table(std::uint16_t module, ErrTableEntry* table) {
    E_RemoveErrorTable(module);
    E_RegisterErrorTable(module, table);
}

Texts texts(const ArchiveFile& file) {
    Texts out;
    for (const auto& e : file.errors) out.push_back(e.text);
    return out;
}

bool wait_until(const std::function<bool()>& done, const char* what) {
    const auto limit = std::chrono::steady_clock::now() + kLongWait;
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) {
            ADD_FAILURE() << "waited in vain: " << what;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TaskHarness::TaskHarness(HarnessOptions options) {
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
    if (options.log_folder) std::filesystem::create_directory(root_ + "/LOG");
    std::ofstream(root_ + "/TARNBOOT.INI")
        << "[ErrorTask]\nSystemLogFile=\\LOG\\SYSERR.LOG\nUserLogFile=\\LOG\\USERERR.LOG\n";
    rtx_host_console_echo(0);
    rtx_host_set_root(root_.c_str());
    rtx_host_set_ini_dir(root_.c_str());

    error_mbx_ = rtx_host_create_mailbox(CATALOG_ERROR_MBX);
    if (options.error_qmbx) error_qmbx_ = rtx_host_create_mailbox(CATALOG_ERROR_QMBX);
    reply_mbx_ = rtx_host_create_mailbox("\x0aTEST_REPLY");
    EXPECT_NE(error_mbx_, 0);
    EXPECT_NE(reply_mbx_, 0);
    const char* names[] = {CATALOG_GUI_MBX, CATALOG_IECSTATE_MBX, CATALOG_API_MBX};
    for (Which which : {kGui, kStatus, kApi}) {
        if (which == kApi && !options.api_mbx) continue;
        partner_mbx_[which] = rtx_host_create_mailbox(names[which]);
        threads_.emplace_back([this, which] { serve(which, partner_mbx_[which]); });
    }
}

TaskHarness::~TaskHarness() {
    // Ends the task threads; the partner threads get RTX_E_SHUTDOWN from their waits.
    rtx_host_shutdown();
    for (std::thread& t : threads_) t.join();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

bool TaskHarness::wait_until_suspended() {
    return wait_until([] { return rtx_host_task_suspended(CATALOG_ERROR_TASK) != 0; },
                      "the error task to be suspended");
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

Bytes TaskHarness::receive_reply() {
    Bytes out;
    if (!take(reply_mbx_, kReplyWaitMs, out)) ADD_FAILURE() << "no message on the reply mailbox";
    return out;
}

void TaskHarness::settle() {
    sync();
    std::unique_lock<std::mutex> lock(mutex_);
    markers_ = 0;
    std::size_t sent = 0;
    for (std::uint16_t mailbox : partner_mbx_) {
        if (mailbox == 0) continue;
        send_to(mailbox, Bytes{0});
        ++sent;
    }
    if (!changed_.wait_for(lock, kLongWait, [&] { return markers_ == sent; }))
        ADD_FAILURE() << "a partner task did not take its marker";
    lock.unlock();
    sync();
}

std::uint64_t TaskHarness::live_segments() const {
    // The last sync request may still be on its way to rtx_global_free; give it a moment.
    rtx_host_counters counters{};
    wait_until(
        [&] {
            rtx_host_get_counters(&counters);
            return counters.segments_in_use == 0;
        },
        "every segment to be given back");
    return counters.segments_in_use;
}

ArchiveFile TaskHarness::export_log(int log_id, const std::string& name) {
    ArchiveFile file;
    const std::uint16_t command = log_id == 0 ? CMD_EXPORT_SYSTEM_LOG : CMD_EXPORT_USER_LOG;
    const Bytes answer = request(
        errtest::message(0x0E0E, {block(command, concat({words({0}), text_bytes(name, true)}))}));
    file.answered = answer.size() > MSG_HEADER_SIZE;
    std::string relative = name.substr(1);
    for (char& c : relative)
        if (c == '\\') c = '/';
    file.raw = file_text(relative);
    parse_archive(file);
    return file;
}

std::string TaskHarness::file_text(const std::string& relative) const {
    std::ifstream in(host_path(relative), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void TaskHarness::answer_box(const Bytes& request) {
    // Offsets of the request's one block start at 12.
    constexpr std::size_t b = MSG_HEADER_SIZE;
    const std::uint16_t reply_to = get16(request, MSG_REPLY_MBX);
    const std::uint16_t buttons = get16(request, b + BOX_BUTTON_COUNT);
    if (get16(request, MSG_REPLY_MODE) != REPLY_MODE_TO_MBX || buttons == 0) return;
    std::unique_lock<std::mutex> lock(mutex_);
    const int index = std::max(0, std::min<int>(button_, buttons - 1));
    const bool strays = strays_;
    lock.unlock();
    const std::size_t desc = b + BOX_BUTTONS + BOX_BUTTON_DESC_SIZE * std::size_t(index);
    const std::size_t length = get16(request, desc + 2);
    const std::size_t at = b + get16(request, desc + 4);
    if (at + length > request.size()) {
        ADD_FAILURE() << "box answer outside the request";
        return;
    }
    const Bytes answer(request.begin() + at, request.begin() + at + length);
    if (strays) {
        Bytes other_command = answer;
        put16(other_command, b + BLK_COMMAND, CMD_ASYNC_BOX_ANSWER);
        Bytes other_sequence = answer;
        put16(other_sequence, b + BLK_TAG1, get16(answer, b + BLK_TAG1) + 1);
        put16(other_sequence, b + BLK_TAG2, get16(answer, b + BLK_TAG2) + 1);
        send_to(reply_to, other_command);
        send_to(reply_to, other_sequence);
    }
    send_to(reply_to, answer);
}

void TaskHarness::serve(Which which, std::uint16_t mailbox) {
    Bytes got;
    while (take(mailbox, RTX_WAIT_FOREVER, got)) {
        // The error task never sends a one-byte segment: settle() uses one to find out when a
        // partner thread has taken everything queued before it.
        const bool marker = got.size() == 1;
        Responder responder;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (marker) {
                ++markers_;
            } else {
                received_[which].push_back(got);
            }
            responder = responder_;
        }
        changed_.notify_all();
        if (marker) continue;
        if (which == kGui) {
            responder ? responder(got) : answer_box(got);
        } else if (which == kStatus && get16(got, MSG_REPLY_MODE) == REPLY_MODE_TO_MBX) {
            // Any message acknowledges a status text; this one is a bare header.
            send_to(get16(got, MSG_REPLY_MBX), words({0x1200, 0, 0, 0, 0, 0}));
        }
    }
}

}  // namespace errtest
