#include "runner.h"

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "err/protocol.h"
#include "err/report.h"
#include "host_system/logs.h"
#include "log_view.h"
#include "texts.h"

namespace errsim {

using host_system::block;
using host_system::Bytes;
using host_system::message;
using host_system::put16;
using host_system::words;

namespace {

template <typename... Args>
std::string printed(const char* format, Args... args) {
    char text[512];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

host_system::Limit wait_limit(const Options& options) {
    if (options.timeout_seconds == 0 || options.interactive) return host_system::kNoLimit;
    return std::chrono::seconds(options.timeout_seconds);
}

}  // namespace

bool Runner::fail(int line, const std::string& what) {
    failure_ = what;
    failure_line_ = line;
    return false;
}

bool Runner::send(const Bytes& message, int line) {
    if (!world_.send(message, "errsim", line)) return fail(line, text::kCannotSend);
    return true;
}

bool Runner::simple(std::uint16_t command, int line) {
    return send(message(0, {block(command)}), line) && sync(line);
}

bool Runner::awaited(const host_system::Reply& reply, int line) {
    switch (reply.outcome) {
        case host_system::Reply::answered:
            settle();
            return true;
        case host_system::Reply::unsent:
            return fail(line, text::kCannotSend);
        case host_system::Reply::suspended:
            return fail(line, text::kTaskSuspended);
        case host_system::Reply::timed_out:
            return fail(line, printed(text::kNoAnswerWithin, options_.timeout_seconds));
        case host_system::Reply::failed:
            break;
    }
    return fail(line, printed(text::kWaitFailed, static_cast<unsigned>(reply.status)));
}

bool Runner::sync(int line) {
    return awaited(world_.sync(wait_limit(options_)), line);
}

bool Runner::request(Bytes msg, Bytes& answer, int line) {
    const std::uint16_t tag = world_.next_tag();
    put16(msg, MSG_REPLIED_TAG, tag);
    if (!world_.send_asking(msg, "errsim", line)) return fail(line, text::kCannotSend);
    host_system::Reply reply = world_.await(tag, wait_limit(options_));
    answer = std::move(reply.message);
    return awaited(reply, line);
}

void Runner::settle() {
    world_.flush_partners();
    out_.flush_console();
}

bool Runner::run(const Command& c) {
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
        case Op::ArchiveAll:
            return send(message(0, {block(CMD_ARCHIVE_ALL, words({c.value}))}), c.line) &&
                   sync(c.line);
        case Op::State:
            return send(message(0,
                                {block(CMD_SET_ERROR_STATE, words({c.id, c.and_mask, c.or_mask}))}),
                        c.line) &&
                   sync(c.line);
        case Op::Export:
            return export_log(c);
        case Op::Erase:
            return erase(c);
        case Op::Answer:
            partners_.queue_answer(c.value);
            return true;
        case Op::Cmd:
            return send(message(0, {block(c.value, c.bytes)}), c.line) && sync(c.line);
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
        case Op::Storm:
            return storm(c);
    }
    return true;
}

bool Runner::report(const Command& c) {
    const std::string file = c.file ? *c.file : options_.script_name;
    const std::int32_t line = c.source_line ? *c.source_line : c.line;
    const char* info = c.info ? c.info->c_str() : nullptr;
    if (!c.reply) {
        // The real reporting call, as any firmware task makes it.
        if (EReportError(file.c_str(), line, c.id, info) != 0)
            return fail(c.line, text::kReportNotSent);
        return sync(c.line);
    }
    // The same report, packed as EReportError packs it, asking for its answer.
    Bytes answer;
    if (!request(host_system::report_message(file.c_str(), line, c.id, info), answer, c.line))
        return false;
    out_.line(format_report_reply(answer.data(), answer.size()));
    return true;
}

bool Runner::export_log(const Command& c) {
    const std::uint16_t command =
        c.log == LogSel::User ? CMD_EXPORT_USER_LOG : CMD_EXPORT_SYSTEM_LOG;
    const Bytes data = host_system::concat(
        {Bytes(EXPORT_FILE_NAME - BLK_DATA, 0), host_system::text_bytes(c.text, true)});
    Bytes answer;
    if (!request(message(0, {block(command, data)}), answer, c.line)) return false;
    out_.line(format_export_reply(command, answer.data(), answer.size()));
    return true;
}

bool Runner::erase(const Command& c) {
    const bool user = c.log == LogSel::User;
    if (c.all) return simple(user ? CMD_ERASE_ALL_USER : CMD_ERASE_ALL_SYSTEM, c.line);
    Bytes data = words({static_cast<std::uint16_t>(c.records.size())});
    for (std::uint16_t r : c.records) put16(data, data.size(), r);
    const std::uint16_t command = user ? CMD_ERASE_SELECTED_USER : CMD_ERASE_SELECTED_SYSTEM;
    return send(message(0, {block(command, data)}), c.line) && sync(c.line);
}

bool Runner::show(const Command& c) {
    const bool system = c.log == LogSel::System;
    const std::string title = system ? "log SYSTEM" : "log USER";
    const host_system::LogPlan plan = host_system::plan_log(system ? 0 : 1);
    if (!plan.on) {
        out_.line(printed(text::kLogSwitchedOff, title.c_str(), plan.off_reason.c_str()));
        return true;
    }
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!errlog::read_file(plan.host_path, bytes, error)) {
        out_.line(printed(text::kLogUnreadable, title.c_str(), error.c_str()));
        return true;
    }
    for (const auto& l : errlog::format_table(errlog::inspect_log(std::move(bytes)), title))
        out_.line(l);
    return true;
}

bool Runner::module_call(const Command& c) {
    void (*fn)(void) = nullptr;
    for (void* h : modules_) {
        if (void* sym = dlsym(h, c.text.c_str())) {
            fn = reinterpret_cast<void (*)(void)>(sym);
            break;
        }
    }
    if (!fn) return fail(c.line, printed(text::kNoFunction, script_excerpt(c.text).c_str()));
    fn();
    return sync(c.line);
}

}  // namespace errsim

namespace errsim {

// COUNT reports from N threads, each calling EReportError as fast as it returns, then a sync:
// the storm ends when the error task has handled the last report. A report that EReportError
// could not send (no segment, no mailbox) is dropped and counted, as on the instrument.
bool Runner::storm(const Command& c) {
    const std::string& file = options_.script_name;
    const char* info = c.info ? c.info->c_str() : nullptr;
    std::atomic<std::uint32_t> next{0}, dropped{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < c.threads; ++t)
        threads.emplace_back([&] {
            while (next.fetch_add(1, std::memory_order_relaxed) < c.count)
                if (EReportError(file.c_str(), c.line, c.id, info) != 0)
                    dropped.fetch_add(1, std::memory_order_relaxed);
        });
    for (std::thread& t : threads) t.join();
    // The storm may leave the pool exhausted for a moment: the sync's own message waits for a
    // segment that the error task frees (at most 10 s), instead of failing the script.
    host_system::Reply reply = world_.sync(wait_limit(options_));
    for (int tries = 0; reply.outcome == host_system::Reply::unsent && tries < 10000; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        reply = world_.sync(wait_limit(options_));
    }
    if (!awaited(reply, c.line)) return false;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string line = printed(text::kStorm, unsigned(c.id), unsigned(c.count - dropped.load()),
                               unsigned(dropped.load()));
    if (options_.timing)
        line += printed(text::kStormTiming, seconds, seconds > 0 ? c.count / seconds : 0.0);
    out_.line(line);
    return true;
}

}  // namespace errsim
