// The executive environment of errsim: mailboxes, the simulated user-interface, status and
// API tasks, the script runner, and the orderly start and end of the system.
//
// Ordering. Every line on stdout is printed in the order in which the error task caused it:
//  - the simulated user interface, status task and API task serve ONE mailbox, entered in the
//    catalog as GUI_MBX, IECSTATE_MBX and API_MBX, so their events come in exactly the order
//    in which the error task sent them (three mailboxes could not tell which came first);
//  - a console text of the error task is printed only after the simulated tasks have handled
//    everything sent before it (a barrier message through their mailbox), and the error task
//    waits for that inside its boot_printf;
//  - after each script command the runner waits until the error task has handled it (its
//    answer, or the default response to an empty message of the runner's), then for the
//    simulated tasks the same way, before the next command is sent.
#include "sim.h"

#include <dirent.h>
#include <dlfcn.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "err/err.h"
#include "events.h"
#include "log_view.h"
#include "rtx/rtx.h"
#include "rtx/rtx_host.h"
#include "script_tables.h"
#include "wire.h"

namespace errsim {

namespace {

// Command of errsim's barrier message to the simulated tasks; the error task never sends it.
constexpr std::uint16_t kPingCommand = 0xFE01;
constexpr const char* kOrigin = "errsim";
constexpr const char* kIniName = "TARNBOOT.INI";
constexpr const char* kDefaultIni =
    "; Boot configuration written by errsim.\r\n"
    "[ErrorTask]\r\n"
    "SystemLogFile=\\LOG\\SYSERR.LOG\r\n"
    "UserLogFile=\\LOG\\USERERR.LOG\r\n"
    "\r\n"
    "[Eventlog]\r\n"
    "; 1: developer diagnostics (VX_ERROR) are reported as error 2.\r\n"
    "LogVXErrorRelease=1\r\n";

using Bytes = std::vector<std::uint8_t>;

// ---- Output ---------------------------------------------------------------------------------

class Output {
  public:
    explicit Output(bool quiet) : quiet_(quiet) {}

    void line(const std::string& text) {
        std::lock_guard<std::mutex> lk(m_);
        flush_console_locked();
        write(text);
    }
    void console(const char* text, std::size_t length) {
        std::lock_guard<std::mutex> lk(m_);
        for (const auto& l : console_.add(std::string_view(text, length)))
            if (!quiet_) write("console: " + l);
    }
    void flush_console() {
        std::lock_guard<std::mutex> lk(m_);
        flush_console_locked();
    }

  private:
    void flush_console_locked() {
        for (const auto& l : console_.flush())
            if (!quiet_) write("console: " + l);
    }
    static void write(const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

    std::mutex m_;
    bool quiet_;
    ConsoleLines console_;
};

// ---- Segments -------------------------------------------------------------------------------

bool send_bytes(std::uint16_t mailbox, const Bytes& bytes, int line) {
    rtx_status st{};
    std::uint16_t seg = 0;
    old_rtx_global_alloc(&seg, static_cast<std::uint32_t>(bytes.size()), 0, 0, &st, kOrigin, line);
    if (st.status != RTX_OK) return false;
    void* p = buildptr(seg, 0);
    if (!p || rtx_segment_size(seg) < bytes.size()) {
        rtx_global_free(seg, &st);
        return false;
    }
    if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
    if (_rtx_sendmessage(mailbox, seg, 0, &st) != RTX_OK) {
        rtx_global_free(seg, &st);
        return false;
    }
    return true;
}

Bytes copy_segment(std::uint16_t seg) {
    const auto* p = static_cast<const std::uint8_t*>(buildptr(seg, 0));
    std::uint32_t size = p ? rtx_segment_size(seg) : 0;
    return p ? Bytes(p, p + size) : Bytes();
}

// A message of one command block: header (reply_mode, reply_mbx, replied_tag) and block.
Bytes one_block(std::uint16_t command, const Bytes& data, std::uint16_t reply_mode = 0,
                std::uint16_t reply_mbx = 0, std::uint16_t tag = 0) {
    Bytes msg(MSG_HEADER_SIZE + BLK_HEAD_SIZE + data.size(), 0);
    err::ByteSpan s(msg.data(), msg.size());
    s.put_u16(MSG_REPLY_MODE, reply_mode);
    s.put_u16(MSG_REPLY_MBX, reply_mbx);
    s.put_u16(MSG_REPLIED_TAG, tag);
    s.put_u16(MSG_BLOCK_COUNT, 1);
    s.put_u16(MSG_HEADER_SIZE + BLK_COMMAND, command);
    s.put_u16(MSG_HEADER_SIZE + BLK_LENGTH,
              static_cast<std::uint16_t>(BLK_HEAD_SIZE + data.size()));
    s.put_bytes(MSG_HEADER_SIZE + BLK_DATA, data.data(), data.size());
    return msg;
}

void put_word(Bytes& data, std::uint16_t w) {
    data.push_back(static_cast<std::uint8_t>(w & 0xFF));
    data.push_back(static_cast<std::uint8_t>(w >> 8));
}

std::uint16_t first_command(const Bytes& msg) {
    err::ByteView v(msg.data(), msg.size());
    std::uint16_t count = 0;
    if (!v.u16(MSG_BLOCK_COUNT, count) || count == 0) return 0;
    return v.u16_or(MSG_HEADER_SIZE + BLK_COMMAND, 0);
}

// ---- The simulated user-interface, status and API tasks -------------------------------------

class Environment {
  public:
    Environment(Output& out, const Options& options) : out_(out), options_(options) {}

    bool create(const MailboxNames& names) {
        names_ = names;
        mbx_ = rtx_host_create_mailbox(CATALOG_GUI_MBX);
        if (mbx_ == 0) return false;
        rtx_status st{};
        rtx_catalog(mbx_, CATALOG_IECSTATE_MBX, 0, &st);
        if (st.status != RTX_OK) return false;
        rtx_catalog(mbx_, CATALOG_API_MBX, 0, &st);
        return st.status == RTX_OK;
    }

    bool open_terminal() {
        if (!options_.interactive) return true;
        if (options_.script_from_stdin) {
            tty_ = std::fopen("/dev/tty", "r");
            if (!tty_) return false;
            prompt_in_ = tty_;
        } else {
            prompt_in_ = stdin;
        }
        return true;
    }

    void start() {
        {
            std::lock_guard<std::mutex> lk(m_);
            running_ = true;
        }
        thread_ = std::thread([this] { run(); });
    }

    // Waits until everything sent to the simulated tasks before this call has been handled.
    // Returns at once when they do not run (before start, after the end).
    void flush() {
        std::uint32_t ticket;
        {
            std::lock_guard<std::mutex> lk(m_);
            if (!running_ || std::this_thread::get_id() == thread_.get_id()) return;
            ticket = ++ping_sent_;
        }
        Bytes data;
        put_word(data, static_cast<std::uint16_t>(ticket & 0xFFFF));
        put_word(data, static_cast<std::uint16_t>(ticket >> 16));
        if (!send_bytes(mbx_, one_block(kPingCommand, data), __LINE__)) return;
        std::unique_lock<std::mutex> lk(m_);
        cv_.wait(lk, [&] { return !running_ || ping_done_ >= ticket; });
    }

    void queue_answer(std::uint16_t code) {
        std::lock_guard<std::mutex> lk(m_);
        answers_.push_back(code);
    }

    void join() {
        if (thread_.joinable()) thread_.join();
        if (tty_) std::fclose(tty_);
        tty_ = nullptr;
    }

  private:
    void run() {
        for (;;) {
            std::uint16_t seg = 0;
            rtx_status st{};
            _rtx_getmessage(&seg, mbx_, RTX_WAIT_FOREVER, 0, &st);
            if (st.status != RTX_OK) break;  // the executive ends (or the mailbox failed)
            handle(seg);
        }
        std::lock_guard<std::mutex> lk(m_);
        running_ = false;
        cv_.notify_all();
    }

    void handle(std::uint16_t seg) {
        Bytes msg = copy_segment(seg);
        const void* request = buildptr(seg, 0);
        rtx_status st{};
        switch (first_command(msg)) {
            case kPingCommand: {
                err::ByteView v(msg.data(), msg.size());
                std::uint32_t ticket =
                    v.u16_or(MSG_HEADER_SIZE + BLK_DATA, 0) |
                    (std::uint32_t(v.u16_or(MSG_HEADER_SIZE + BLK_DATA + 2, 0)) << 16);
                std::lock_guard<std::mutex> lk(m_);
                if (ticket > ping_done_) ping_done_ = ticket;
                cv_.notify_all();
                break;
            }
            case CMD_SHOW_BOX:
                show_box(msg);
                break;
            case CMD_STATUS_TEXT:
                out_.line(format_status(msg.data(), msg.size()));
                // The status task acknowledges every text with a message to reply_mbx.
                if (request) send_default_response(request, 0, &st);
                break;
            case CMD_API_NOTIFY:
                out_.line(format_api(msg.data(), msg.size()));
                // The API task answers on ERROR_MBX, where the error task drops the answer.
                if (request) send_default_response(request, 0, &st);
                break;
            default:
                out_.line(format_unexpected("GUI_MBX", msg.data(), msg.size()));
                break;
        }
        rtx_global_free(seg, &st);
    }

    void show_box(const Bytes& msg) {
        const std::uint32_t seq = ++box_count_;
        BoxRequest box = parse_box_request(msg.data(), msg.size());
        out_.line(format_box(seq, box, names_));
        // Only a box with buttons whose answer is wanted gets one: awaited boxes (reply to
        // ERROR_QMBX) and boxes whose answer goes to the API side (reply to ERROR_MBX).
        if (!box.valid || box.buttons.empty() || box.reply_mode != REPLY_MODE_TO_MBX) return;
        std::size_t index = choose(box, seq);
        const BoxButton& b = box.buttons[index];
        if (b.answer.empty()) {
            std::fprintf(stderr, "errsim: box seq=%u: button %s has no answer message\n",
                         static_cast<unsigned>(seq), b.label.c_str());
            return;
        }
        out_.line(format_answer(seq, b.code));
        if (!send_bytes(box.reply_mbx, b.answer, __LINE__))
            std::fprintf(stderr, "errsim: box seq=%u: the answer could not be sent\n",
                         static_cast<unsigned>(seq));
    }

    // The button the simulated user chooses: the one queued by `answer`, else the box's first
    // marked button (index 0 when that index is not a button). With --interactive the user
    // chooses, and that button is what Enter takes.
    std::size_t choose(const BoxRequest& box, std::uint32_t seq) {
        std::size_t index = box.first_marked < box.buttons.size() ? box.first_marked : 0;
        std::optional<std::uint16_t> wanted;
        {
            std::lock_guard<std::mutex> lk(m_);
            if (!answers_.empty()) {
                wanted = answers_.front();
                answers_.pop_front();
            }
        }
        if (wanted) {
            bool found = false;
            for (std::size_t i = 0; i < box.buttons.size() && !found; ++i) {
                if (box.buttons[i].code == *wanted) {
                    index = i;
                    found = true;
                }
            }
            if (!found)
                std::fprintf(stderr, "errsim: box seq=%u has no button %s; chose %s\n",
                             static_cast<unsigned>(seq), button_label(*wanted),
                             box.buttons[index].label.c_str());
        }
        if (options_.interactive) index = ask(box, seq, index);
        return index;
    }

    std::size_t ask(const BoxRequest& box, std::uint32_t seq, std::size_t preset) {
        FILE* o = stderr;
        std::fprintf(o, "\n+--- message box %u ", static_cast<unsigned>(seq));
        std::fprintf(o, "%s\n", std::string(40, '-').c_str());
        if (!box.title.empty()) std::fprintf(o, "| %s\n|\n", box.title.c_str());
        std::string text = box.text;
        std::size_t start = 0;
        while (true) {
            std::size_t nl = text.find('\n', start);
            std::fprintf(o, "| %s\n", text.substr(start, nl - start).c_str());
            if (nl == std::string::npos) break;
            start = nl + 1;
        }
        std::fprintf(o, "|\n");
        for (std::size_t i = 0; i < box.buttons.size(); ++i)
            std::fprintf(o, "|   %zu) %s\n", i + 1, box.buttons[i].label.c_str());
        std::fprintf(o, "+%s\n", std::string(60, '-').c_str());
        for (;;) {
            const std::string range =
                box.buttons.size() == 1 ? "1" : "1-" + std::to_string(box.buttons.size());
            std::fprintf(o, "choose %s or a button name (Enter: %s): ", range.c_str(),
                         box.buttons[preset].label.c_str());
            std::fflush(o);
            char line[128];
            if (!prompt_in_ || !std::fgets(line, sizeof line, prompt_in_)) {
                std::fprintf(o, "\n");
                return preset;  // end of input: the default
            }
            std::string answer(line);
            while (!answer.empty() &&
                   (answer.back() == '\n' || answer.back() == '\r' || answer.back() == ' '))
                answer.pop_back();
            while (!answer.empty() && answer.front() == ' ') answer.erase(0, 1);
            if (answer.empty()) return preset;
            char* end = nullptr;
            unsigned long n = std::strtoul(answer.c_str(), &end, 10);
            if (end && *end == 0 && n >= 1 && n <= box.buttons.size()) return n - 1;
            for (std::size_t i = 0; i < box.buttons.size(); ++i)
                if (strcasecmp(answer.c_str(), box.buttons[i].label.c_str()) == 0) return i;
            std::fprintf(o, "no such button: %s\n", answer.c_str());
        }
    }

    Output& out_;
    const Options& options_;
    MailboxNames names_;
    std::uint16_t mbx_ = 0;
    std::thread thread_;
    std::mutex m_;
    std::condition_variable cv_;
    bool running_ = false;
    std::uint32_t ping_sent_ = 0;
    std::uint32_t ping_done_ = 0;
    std::deque<std::uint16_t> answers_;
    std::uint32_t box_count_ = 0;  // touched only by the environment's thread
    FILE* tty_ = nullptr;
    FILE* prompt_in_ = nullptr;
};

// ---- Console --------------------------------------------------------------------------------

struct ConsoleContext {
    Output* out;
    Environment* env;
};

void console_sink(const char* text, std::size_t length, void* context) {
    auto* c = static_cast<ConsoleContext*>(context);
    // Whatever the error task sent to the simulated tasks before it printed comes first.
    c->env->flush();
    c->out->console(text, length);
}

// ---- Root folder ----------------------------------------------------------------------------

bool make_dirs(const std::string& path, std::string& error) {
    std::string part;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (!part.empty() && part != "." && part != "..") {
                struct stat sb;
                if (stat(part.c_str(), &sb) != 0) {
                    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
                        error = part + ": " + std::strerror(errno);
                        return false;
                    }
                } else if (!S_ISDIR(sb.st_mode)) {
                    error = part + ": not a folder";
                    return false;
                }
            }
        }
        if (i < path.size()) part.push_back(path[i]);
    }
    return true;
}

bool has_file_any_case(const std::string& folder, const char* name) {
    DIR* d = opendir(folder.c_str());
    if (!d) return false;
    bool found = false;
    while (dirent* e = readdir(d))
        if (strcasecmp(e->d_name, name) == 0) found = true;
    closedir(d);
    return found;
}

// The executive path of a log as the error task will set it up: the configured value's first
// word, or the root path and the default name.
std::string log_exec_path(bool system) {
    const char* key = system ? "SystemLogFile" : "UserLogFile";
    std::string path;
    std::uint16_t handle = 0;
    if (ini_file_read(&handle, kIniName) == 0) {
        char* value = nullptr;
        if (ini_file_get(handle, "ErrorTask", key, &value) == 0 && value) {
            std::string v(value);
            std::size_t b = v.find_first_not_of(" \t");
            if (b != std::string::npos) {
                std::size_t e = v.find_first_of(" \t", b);
                path = v.substr(b, e == std::string::npos ? std::string::npos : e - b);
            }
        }
        ini_file_free(handle);
    }
    if (path.empty()) {
        char root[260] = {};
        rtx_get_root_path(2, root);
        path = std::string(root) + (system ? "\\LOG\\SYSERR.LOG" : "\\LOG\\USERERR.LOG");
    }
    return path;
}

std::string host_path(const std::string& exec_path) {
    char buf[4096];
    if (rtx_map_path(exec_path.c_str(), buf, sizeof buf) != 0) return exec_path;
    return buf;
}

// ---- The script runner ----------------------------------------------------------------------

class Runner {
  public:
    Runner(Output& out, Environment& env, const Options& options, std::uint16_t error_mbx,
           std::uint16_t reply_mbx, std::vector<void*> modules)
        : out_(out),
          env_(env),
          options_(options),
          error_mbx_(error_mbx),
          reply_mbx_(reply_mbx),
          modules_(std::move(modules)) {}

    // What went wrong, and the script line (0: the start of the system).
    const std::string& failure() const { return failure_; }
    int failure_line() const { return failure_line_; }

    // Waits until the error task has handled everything sent so far, then the simulated tasks.
    bool sync(int line) {
        std::uint16_t tag = next_tag();
        Bytes msg(MSG_HEADER_SIZE, 0);
        err::ByteSpan s(msg.data(), msg.size());
        s.put_u16(MSG_REPLY_MODE, REPLY_MODE_TO_MBX);
        s.put_u16(MSG_REPLY_MBX, reply_mbx_);
        s.put_u16(MSG_REPLIED_TAG, tag);
        Bytes reply;
        return send(msg, line) && await(tag, reply, line) && settle();
    }

    bool run(const Command& c) {
        switch (c.op) {
            case Op::Report:
                return report(c);
            case Op::Boxes:
                return simple(c.on ? CMD_BOXES_ON : CMD_BOXES_OFF, c.line);
            case Op::Ui:
                return simple(c.on ? CMD_UI_READY : CMD_UI_NOT_READY, c.line);
            case Op::Variant:
                return simple(c.on ? CMD_VARIANT_B : CMD_VARIANT_A, c.line);
            case Op::SystemErrors:
                return simple(c.on ? CMD_SYSTEM_ERR_ON : CMD_SYSTEM_ERR_OFF, c.line);
            case Op::Reset:
                return simple(CMD_RESET_SWITCHES, c.line);
            case Op::ArchiveAll: {
                Bytes data;
                put_word(data, c.value);
                return send(one_block(CMD_ARCHIVE_ALL, data), c.line) && sync(c.line);
            }
            case Op::State: {
                Bytes data;
                put_word(data, c.id);
                put_word(data, c.and_mask);
                put_word(data, c.or_mask);
                return send(one_block(CMD_SET_ERROR_STATE, data), c.line) && sync(c.line);
            }
            case Op::Export:
                return export_log(c);
            case Op::Erase:
                return erase(c);
            case Op::Answer:
                env_.queue_answer(c.value);
                return true;
            case Op::Cmd:
                return send(one_block(c.value, c.bytes), c.line) && sync(c.line);
            case Op::Raw:
                return send(c.bytes, c.line) && sync(c.line);
            case Op::Sync:
                return sync(c.line);
            case Op::Show:
                return show(c);
            case Op::Echo:
                out_.line("# " + escape_text(c.text));
                return true;
            case Op::ModuleCall:
                return module_call(c);
        }
        return true;
    }

  private:
    std::uint16_t next_tag() {
        if (++tag_ == 0) ++tag_;
        return tag_;
    }

    bool fail(int line, const std::string& what) {
        failure_ = what;
        failure_line_ = line;
        return false;
    }

    bool send(const Bytes& msg, int line) {
        if (!send_bytes(error_mbx_, msg, line)) return fail(line, "could not send to ERROR_MBX");
        return true;
    }

    bool simple(std::uint16_t command, int line) {
        return send(one_block(command, {}), line) && sync(line);
    }

    // Waits for the answer whose replied_tag is tag on errsim's own mailbox. Answers with
    // another tag (to raw messages that named this mailbox) are dropped.
    bool await(std::uint16_t tag, Bytes& reply, int line) {
        using Clock = std::chrono::steady_clock;
        const bool limited = options_.timeout_seconds != 0 && !options_.interactive;
        const auto deadline = Clock::now() + std::chrono::seconds(options_.timeout_seconds);
        for (;;) {
            std::uint16_t seg = 0;
            rtx_status st{};
            _rtx_getmessage(&seg, reply_mbx_, 100, 0, &st);
            if (st.status == RTX_OK) {
                reply = copy_segment(seg);
                rtx_global_free(seg, &st);
                err::ByteView v(reply.data(), reply.size());
                if (v.u16_or(MSG_REPLIED_TAG, 0) == tag) return true;
                continue;
            }
            if (st.status != RTX_E_TIMEOUT)
                return fail(line, "waiting for the error task failed (status " +
                                      std::to_string(st.status) + ")");
            if (rtx_host_task_suspended(CATALOG_ERROR_TASK) == 1)
                return fail(line, "the error task is suspended (see its console lines)");
            if (limited && Clock::now() >= deadline)
                return fail(line, "no answer from the error task within " +
                                      std::to_string(options_.timeout_seconds) + " s");
        }
    }

    // After the error task: the simulated tasks, then any unfinished console line.
    bool settle() {
        env_.flush();
        out_.flush_console();
        return true;
    }

    bool report(const Command& c) {
        const std::string file = c.file ? *c.file : options_.script_name;
        const std::int32_t line = c.source_line ? *c.source_line : c.line;
        const char* info = c.info ? c.info->c_str() : nullptr;
        if (!c.reply) {
            // The real reporting call, as any firmware task makes it.
            if (EReportError(file.c_str(), line, c.id, info) != 0)
                return fail(c.line, "EReportError could not send the report");
            return sync(c.line);
        }
        // The same report, built here so that it can ask for the answer.
        std::uint16_t tag = next_tag();
        Bytes data(REPORT_SEGMENT_SIZE - MSG_HEADER_SIZE - BLK_HEAD_SIZE, 0);
        err::ByteSpan d(data.data(), data.size());
        d.put_u16(REPORT_ERROR_NR - BLK_DATA, c.id);
        d.put_i32(REPORT_LINE - BLK_DATA, line);
        const char* name = file.c_str();
        EVcut_path(&name);
        d.put_bytes(REPORT_FILE - BLK_DATA, name,
                    std::min(std::strlen(name), std::size_t(REPORT_FILE_SIZE)));
        if (info)
            d.put_bytes(REPORT_INFO - BLK_DATA, info,
                        std::min(std::strlen(info), std::size_t(REPORT_INFO_SIZE)));
        Bytes msg = one_block(CMD_REPORT_ERROR, data, REPLY_MODE_TO_MBX, reply_mbx_, tag);
        Bytes reply;
        if (!send(msg, c.line) || !await(tag, reply, c.line) || !settle()) return false;
        out_.line(format_report_reply(reply.data(), reply.size()));
        return true;
    }

    bool export_log(const Command& c) {
        const std::uint16_t command =
            c.log == LogSel::User ? CMD_EXPORT_USER_LOG : CMD_EXPORT_SYSTEM_LOG;
        std::uint16_t tag = next_tag();
        Bytes data(EXPORT_FILE_NAME - BLK_DATA, 0);
        data.insert(data.end(), c.text.begin(), c.text.end());
        data.push_back(0);
        Bytes msg = one_block(command, data, REPLY_MODE_TO_MBX, reply_mbx_, tag);
        Bytes reply;
        if (!send(msg, c.line) || !await(tag, reply, c.line) || !settle()) return false;
        out_.line(format_export_reply(command, reply.data(), reply.size()));
        return true;
    }

    bool erase(const Command& c) {
        const bool user = c.log == LogSel::User;
        if (c.all) return simple(user ? CMD_ERASE_ALL_USER : CMD_ERASE_ALL_SYSTEM, c.line);
        Bytes data;
        put_word(data, static_cast<std::uint16_t>(c.records.size()));
        for (std::uint16_t r : c.records) put_word(data, r);
        const std::uint16_t command = user ? CMD_ERASE_SELECTED_USER : CMD_ERASE_SELECTED_SYSTEM;
        return send(one_block(command, data), c.line) && sync(c.line);
    }

    bool show(const Command& c) {
        const bool system = c.log == LogSel::System;
        const std::string path = host_path(log_exec_path(system));
        const std::string title = system ? "log SYSTEM" : "log USER";
        std::vector<std::uint8_t> bytes;
        std::string error;
        if (!errlog::read_file(path, bytes, error)) {
            out_.line(title + ": cannot be read: " + error);
            return true;
        }
        for (const auto& l : errlog::format_table(errlog::inspect_log(std::move(bytes)), title))
            out_.line(l);
        return true;
    }

    bool module_call(const Command& c) {
        void (*fn)(void) = nullptr;
        for (void* h : modules_) {
            if (void* sym = dlsym(h, c.text.c_str())) {
                fn = reinterpret_cast<void (*)(void)>(sym);
                break;
            }
        }
        if (!fn) return fail(c.line, "module-call: no function '" + c.text + "'");
        fn();
        return sync(c.line);
    }

    Output& out_;
    Environment& env_;
    const Options& options_;
    std::uint16_t error_mbx_;
    std::uint16_t reply_mbx_;
    std::vector<void*> modules_;
    std::uint16_t tag_ = 0;
    std::string failure_;
    int failure_line_ = 0;
};

}  // namespace

int run_simulation(const Options& options, const Script& script) {
    Output out(options.quiet);
    Environment env(out, options);
    ConsoleContext console{&out, &env};
    rtx_host_console_echo(0);
    rtx_host_set_console_sink(console_sink, &console);

    auto finish = [&](int status) {
        out.flush_console();
        rtx_host_shutdown();
        env.join();
        rtx_host_set_console_sink(nullptr, nullptr);
        return status;
    };

    if (!env.open_terminal()) {
        std::fprintf(stderr,
                     "errsim: --interactive needs a terminal (/dev/tty) when the "
                     "script comes from stdin\n");
        return finish(kExitScript);
    }

    // The root folder, its LOG folder and the boot configuration.
    std::string root = options.root.empty() ? std::string(".") : options.root;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    std::string error;
    if (!make_dirs(root + "/LOG", error)) {
        std::fprintf(stderr, "errsim: cannot create the root folder: %s\n", error.c_str());
        return finish(kExitRuntime);
    }
    rtx_host_set_root(root.c_str());
    if (!has_file_any_case(root, kIniName)) {
        if (!errlog::write_file(root + "/" + kIniName, kDefaultIni, error)) {
            std::fprintf(stderr, "errsim: cannot write %s/%s: %s\n", root.c_str(), kIniName,
                         error.c_str());
            return finish(kExitRuntime);
        }
        out.line("errsim: wrote default " + root + "/" + kIniName);
    }

    // Logs left by an earlier run: the error task validates them at its start; say ahead of
    // it which ones it will replace.
    for (bool system : {true, false}) {
        const std::string exec = log_exec_path(system);
        std::vector<std::uint8_t> bytes;
        if (!errlog::read_file(host_path(exec), bytes, error)) continue;
        errlog::Log log = errlog::inspect_log(std::move(bytes));
        if (!log.valid())
            out.line(std::string("errsim: the ") + (system ? "SYSTEM" : "USER") + " log " + exec +
                     " is corrupt (" + log.reason +
                     "); the error task moves it to its .BAK name and starts a new log");
    }

    // Firmware modules: their load-time entries register their tables.
    std::vector<void*> modules;
    for (const std::string& path : options.modules) {
        std::string p = path.find('/') == std::string::npos ? "./" + path : path;
        void* h = dlopen(p.c_str(), RTLD_NOW | RTLD_GLOBAL);
        if (!h) {
            std::fprintf(stderr, "errsim: cannot load module %s: %s\n", path.c_str(), dlerror());
            return finish(kExitRuntime);
        }
        modules.push_back(h);
    }
    for (const Command& c : script.commands) {
        if (c.op != Op::ModuleCall) continue;
        bool found = false;
        for (void* h : modules) found = found || dlsym(h, c.text.c_str()) != nullptr;
        if (!found) {
            std::fprintf(stderr,
                         "errsim: script line %d: module-call: no function '%s' in the "
                         "loaded modules\n",
                         c.line, c.text.c_str());
            return finish(kExitScript);
        }
    }

    static ScriptTables tables;  // alive until the process ends
    tables.build(script);
    tables.register_all();

    // The mailboxes of the executive environment, before the system starts.
    MailboxNames names;
    names.error_mbx = rtx_host_create_mailbox(CATALOG_ERROR_MBX);
    names.error_qmbx = rtx_host_create_mailbox(CATALOG_ERROR_QMBX);
    std::uint16_t reply_mbx = 0;
    rtx_status st{};
    rtx_creatembx(&reply_mbx, 0, &st);
    if (names.error_mbx == 0 || names.error_qmbx == 0 || st.status != RTX_OK ||
        !env.create(names)) {
        std::fprintf(stderr, "errsim: cannot create the mailboxes\n");
        return finish(kExitRuntime);
    }
    env.start();
    rtx_host_system_start();

    Runner runner(out, env, options, names.error_mbx, reply_mbx, modules);
    if (!runner.sync(0)) {
        std::fprintf(stderr, "errsim: the error task did not start: %s\n",
                     runner.failure().c_str());
        return finish(kExitRuntime);
    }
    for (const Command& c : script.commands) {
        if (!runner.run(c)) {
            std::fprintf(stderr, "errsim: script line %d: %s\n", runner.failure_line(),
                         runner.failure().c_str());
            return finish(kExitRuntime);
        }
    }
    return finish(kExitOk);
}

}  // namespace errsim
