#include "support/task_harness.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "host_system/held_module.h"
#include "rtx/rtx.h"

namespace errtest {

namespace {

using host_system::Partner;
using Clock = std::chrono::steady_clock;

constexpr auto kLongWait = std::chrono::seconds(20);  // a hung task, not a timing check

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

Bytes report_block(std::uint16_t error_nr, const std::string& info) {
    Bytes out(REPORT_BLOCK_LENGTH, 0);
    put16(out, BLK_COMMAND, CMD_REPORT_ERROR);
    put16(out, BLK_LENGTH, REPORT_BLOCK_LENGTH);
    put16(out, REPORT_ERROR_NR, error_nr);
    std::memcpy(out.data() + REPORT_INFO, info.data(), std::min<std::size_t>(info.size(), 120));
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
    const auto limit = Clock::now() + kLongWait;
    while (!done()) {
        if (Clock::now() > limit) {
            ADD_FAILURE() << "waited in vain: " << what;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TaskHarness::TaskHarness(HarnessOptions options)
    : root_(host_system::Root::temporary("err_task", {}, options.log_folder)),
      world_(root_, {.restart_module = host_system::restart_held_module,
                     .error_qmbx = options.error_qmbx,
                     .api_mbx = options.api_mbx,
                     .partners = host_system::PartnerLayout::separate,
                     .behaviour = this}) {
    EXPECT_TRUE(world_.ready());
}

bool TaskHarness::wait_until_suspended() {
    return wait_until([] { return host_system::World::task_suspended(); },
                      "the error task to be suspended");
}

void TaskHarness::wait_until_receivers_wait() {
    std::vector<std::uint16_t> receivers = world_.partner_mailboxes();
    receivers.push_back(world_.error_mbx());
    for (std::uint16_t mbx : receivers)
        wait_until([mbx] { return rtx_host_mailbox_waiters(mbx) != 0; }, "a receiver");
}

void TaskHarness::send_to(std::uint16_t mailbox, const Bytes& bytes) {
    ASSERT_TRUE(host_system::send(mailbox, bytes, "task_harness", __LINE__));
}

void TaskHarness::sync() {
    std::vector<Bytes> others;
    EXPECT_TRUE(world_.sync(kLongWait, &others).ok()) << "no answer to a sync";
    EXPECT_TRUE(others.empty()) << "an answer came first";
}

Bytes TaskHarness::receive_reply() {
    host_system::Reply reply = world_.receive_reply(kLongWait);
    if (!reply.ok()) ADD_FAILURE() << "no message on the reply mailbox";
    return reply.message;
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
    const Bytes answer =
        request(message(0x0E0E, {block(command, concat({words({0}), text_bytes(name, true)}))}));
    file.answered = answer.size() > MSG_HEADER_SIZE;
    std::string relative = name.substr(1);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    file.raw = file_text(relative);
    parse_archive(file);
    return file;
}

void TaskHarness::take(Partner partner, const Bytes& request, const void* segment) {
    Responder responder;
    bool strays = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        received_[static_cast<int>(partner)].push_back(request);
        responder = responder_;
        strays = strays_;
    }
    if (partner == Partner::api) return;  // the API task only listens
    if (partner == Partner::status) return PartnerTasks::take(partner, request, segment);
    if (responder) return responder(request);
    const host_system::BoxRequest box = host_system::parse_box_request(request);
    if (strays && box.wants_answer()) {
        // Answers of another command and of another box, before the chosen one.
        constexpr std::size_t b = MSG_HEADER_SIZE;
        const Bytes& answer = box.buttons[*choose(box)].answer;
        Bytes other_command = answer;
        put16(other_command, b + BLK_COMMAND, CMD_ASYNC_BOX_ANSWER);
        Bytes other_sequence = answer;
        put16(other_sequence, b + BLK_TAG1, get16(answer, b + BLK_TAG1) + 1);
        put16(other_sequence, b + BLK_TAG2, get16(answer, b + BLK_TAG2) + 1);
        send_to(box.reply_mbx, other_command);
        send_to(box.reply_mbx, other_sequence);
    }
    PartnerTasks::take(partner, request, segment);
}

std::optional<std::size_t> TaskHarness::choose(const host_system::BoxRequest& box) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int last = static_cast<int>(box.buttons.size()) - 1;
    const std::size_t index = static_cast<std::size_t>(std::max(0, std::min(button_, last)));
    if (box.buttons[index].answer.empty()) ADD_FAILURE() << "box answer outside the request";
    return index;
}

}  // namespace errtest
