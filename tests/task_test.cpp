// The error task in a host system, for what the script cases (tests/cases/task_*) cannot reach:
// failed start-up steps, faults of the executive (failed waits, allocations and file opens),
// the shutdown, the exact bytes of answers and requests, segments given back, box answers that
// break their bounds, and the lookups of a missing API mailbox.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "err/err.h"
#include "host_system/held_module.h"
#include "host_system/world.h"
#include "rtx/rtx_host.h"
#include "task_state.h"

namespace {

using namespace host_system;
using Clock = std::chrono::steady_clock;
constexpr auto kLongWait = std::chrono::seconds(20);  // a hung task, not a timing check

constexpr std::uint16_t kModule = 4;
constexpr std::uint16_t kStop = 5001, kBox = 5002, kIec = 5003, kApiOne = 5004, kApiTwo = 5005,
                        kUserOnce = 5006, kSystemOnce = 5007, kSysBox = 5008, kNoKind = 5009;
const char kLongText[] = "Status text of forty-five characters, exactly";

ErrTableEntry g_table[] = {
    {kStop, 0, 0, ACT_STOP, 0, "Stop", "Stop", "T", nullptr, nullptr},
    {kBox, 0, 0, ACT_BOX_ERROR, 0, "Box %s", "", "T", mb_ok_cancel, nullptr},
    {kIec, EF_IEC_TEXT, 0, ACT_NONE, ACT_NONE, "A", kLongText, "T", nullptr, nullptr},
    {kApiOne, EF_ARCHIVE, 0, ACT_API_ONE, 0, "Api one", "", "T", nullptr, nullptr},
    {kApiTwo, EF_ARCHIVE, 0, ACT_API_TWO_INFO, 0, "Api two", "", "T", nullptr, nullptr},
    {kUserOnce, EF_ARCHIVE | EF_SHOW_ONCE, 0, 0, 0, "Once %s", "", "T", nullptr, nullptr},
    {kSystemOnce, EF_SYSTEM | EF_ARCHIVE | EF_SHOW_ONCE, 0, 0, 0, "S", "", "T", nullptr, nullptr},
    {kSysBox, EF_SYSTEM | EF_ARCHIVE, 0, ACT_BOX_ERROR, 0, "S", "", "T", mb_auto_box, nullptr},
    {kNoKind, 0, 0, ACT_BOX, 0, "Box %s", "", "T", nullptr, nullptr},
    {ERR_TABLE_END, 0, 0, 0, 0, "END OF TABLE", nullptr, nullptr, nullptr, nullptr},
};

void register_table() {
    E_RemoveErrorTable(kModule);
    E_RegisterErrorTable(kModule, g_table);
}

bool wait_until(const std::function<bool()>& done, const char* what) {
    const auto limit = Clock::now() + kLongWait;
    while (!done() && Clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool ok = done();
    EXPECT_TRUE(ok) << "waited in vain: " << what;
    return ok;
}

// The report block of a message as EReportError sends it.
Bytes report_block(std::uint16_t error_nr, const std::string& info = "") {
    const Bytes m = report_message("t.c", 1, error_nr, info.c_str());
    return Bytes(m.begin() + MSG_HEADER_SIZE, m.end());
}
const auto result_of = [](const Bytes& a) { return get16(a, MSG_HEADER_SIZE + RESPONSE_RESULT); };
const auto default_response = [](std::uint16_t sender, std::uint16_t tag = 0) {
    return words({ERR_SENDER_ID, 0, 0, sender, tag, 0});
};
const auto note = [](const std::string& body) {
    return "error_task:\n-----------\n" + body + "\n";
};
std::string log_failure(int log_id, const std::string& what) {
    const std::string file = log_id ? "USERERR" : "SYSERR";
    return note("Failed to open file \\LOG\\" + file + ".LOG") +
           note(what + "\non log_file " + (log_id ? "USER" : "SYSTEM"));
}
std::string startup_failure(const std::string& status) {
    return "Error Task Initialization Error\n-------------------------------\n"
           "rtx_status.status:     " +
           status + "\nSuspending Error Task\n---------------------\n";
}

struct Options {
    bool error_qmbx = true, api_mbx = true, log_folder = true;
};

// A running error task with partner tasks on mailboxes of their own that record what they take:
// the user interface answers a box that wants an answer with its first marked button (or runs
// the responder), the status task acknowledges, the API task only records.
class Harness : private PartnerTasks {
    mutable std::mutex mutex_;
    std::vector<Bytes> taken_[3];

  public:
    explicit Harness(Options o = {})
        : root(Root::temporary("err_task", {}, o.log_folder)),
          world(root, {.restart_module = restart_held_module,
                       .error_qmbx = o.error_qmbx,
                       .api_mbx = o.api_mbx,
                       .partners = PartnerLayout::separate,
                       .behaviour = this}) {
        EXPECT_TRUE(world.ready());
    }
    std::function<void(const Bytes&)> responder;  // set before the first box
    Root root;
    World world;  // last: its partner threads end before the records go

    void start() {
        world.start();
        sync();
    }
    bool wait_suspended() { return wait_until(World::task_suspended, "a suspended task"); }
    void send(const Bytes& m) { EXPECT_TRUE(host_system::send(world.error_mbx(), m)); }
    void command(std::uint16_t code, const Bytes& data = {}) {
        send(message(1, {block(code, data)}));
    }
    Bytes reply() {
        Reply r = world.receive_reply(kLongWait);
        EXPECT_TRUE(r.ok()) << "no message on the reply mailbox";
        return r.message;
    }
    Bytes request(const Bytes& m) {
        EXPECT_TRUE(world.send_asking(m));
        return reply();
    }
    Bytes report(std::uint16_t nr, const std::string& info = "") {
        return request(message(0x0601, {report_block(nr, info)}));
    }
    // Returns when everything sent before has been handled; fails when an answer comes first.
    void sync() {
        std::vector<Bytes> others;
        EXPECT_TRUE(world.sync(kLongWait, &others).ok()) << "no answer to a sync";
        EXPECT_TRUE(others.empty()) << "an answer came first";
    }
    // Also lets the partners take everything the task sent them, and the task what they sent.
    void settle() {
        sync();
        EXPECT_TRUE(world.flush_partners());
        sync();
    }
    std::string console() {
        std::string text = rtx_host_console_text();
        rtx_host_console_clear();
        return text;
    }
    std::vector<Bytes> records(Partner p) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return taken_[static_cast<int>(p)];
    }

  private:
    void take(Partner p, const Bytes& m, const void* segment) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            taken_[static_cast<int>(p)].push_back(m);
        }
        if (p == Partner::ui && responder) return responder(m);
        if (p != Partner::api) PartnerTasks::take(p, m, segment);
    }
};

// Every segment is given back (the last sync's request is freed just after its answer).
bool segments_given_back() {
    return wait_until(
        [] {
            rtx_host_counters c{};
            rtx_host_get_counters(&c);
            return c.segments_in_use == 0;
        },
        "every segment given back");
}

// A started task with the table registered; at the end the console must hold nothing unchecked.
class Task : public ::testing::Test {
  protected:
    void SetUp() override {
        register_table();
        h.start();
    }
    void TearDown() override { EXPECT_EQ(h.console(), "") << "printed and not checked"; }
    Harness h;
};

// A failed lookup suspends the task in its start; resumed, it finishes the start.
TEST(TaskStart, FailedLookupSuspendsTheTaskUntilItIsResumed) {
    Harness h({.error_qmbx = false});
    h.world.start();
    ASSERT_TRUE(h.wait_suspended());
    EXPECT_EQ(h.console(), startup_failure("0003"));
    EXPECT_EQ(h.root.text("LOG/SYSERR.LOG").size(), 0u);
    EXPECT_EQ(rtx_host_resume_task(CATALOG_ERROR_TASK), 0);
    h.sync();
    EXPECT_EQ(h.console(), "");
    EXPECT_EQ(h.root.text("LOG/USERERR.LOG").size(), 15848u);
    EXPECT_EQ(err::task_state().gui_mbx, h.world.gui_mbx());
}

// No system log: the last lookup's status is shown, the task suspends, both logs stay off.
TEST(TaskStart, FailedSystemLogShowsTheLastLookupStatusAndSkipsTheUserLog) {
    Harness h({.log_folder = false});
    h.world.start();
    ASSERT_TRUE(h.wait_suspended());
    EXPECT_EQ(h.console(), note("Failed to open file \\LOG\\SYSERR.LOG") + startup_failure("0000"));
    EXPECT_EQ(rtx_host_resume_task(CATALOG_ERROR_TASK), 0);
    h.sync();
    EXPECT_EQ(err::log_slot(0).path[0], '\0');
    EXPECT_EQ(err::log_slot(1).path[0], '\0');
    EXPECT_FALSE(std::filesystem::exists(h.root.host_path("LOG")));
}

// At shutdown the failed receive suspends the task itself, quietly, also when it is not task 1.
TEST(TaskStart, ShutdownEndsTheTaskQuietly) {
    Harness h;
    rtx_task_descriptor other{};
    other.start = [] {};
    rtx_status status{};
    ASSERT_EQ(ini_create_task(&other, "\x05OTHER", 0, &status), 1);
    h.start();
    h.world.shutdown();
    EXPECT_EQ(h.console(), "");
}

// Answers echo sender, tag and block tags; only requests that ask get one; an export is
// answered with a copy of its block, a failed one by the default response only.
TEST_F(Task, AnswersEchoTheRequestAndComeOnlyWhenAsked) {
    Bytes request = message(0x0A0B, {report_block(kStop)}, 0xBEEF);
    put16(request, MSG_HEADER_SIZE + BLK_TAG1, 0xAAAA);
    put16(request, MSG_HEADER_SIZE + BLK_TAG2, 0xBBBB);
    EXPECT_EQ(h.request(request),
              words({ERR_SENDER_ID, 0, 0, 0x0A0B, 0xBEEF, 1, CMD_RESPONSE, 10, 0xAAAA, 0xBBBB, 2}));
    h.send(message(0x11, {report_block(kStop), report_block(4444)}));
    h.sync();  // fails when an answer comes before its own
    EXPECT_TRUE(h.world.send_asking(message(0x0C0C, {report_block(kStop), report_block(4444)})));
    EXPECT_EQ(result_of(h.reply()), 2);
    EXPECT_EQ(result_of(h.reply()), 0);
    h.sync();  // and no third one

    EXPECT_EQ(h.request(message(0x2345, {}, 0x6789)), default_response(0x2345, 0x6789));
    EXPECT_EQ(h.request(message(0x2346, {block(CMD_RESPONSE, words({9}))}, 0x0102)),
              default_response(0x2346, 0x0102));
    const Bytes exported =
        block(CMD_EXPORT_USER_LOG, concat({words({0x7777}), text_bytes("\\A.TXT", true)}), 1, 2);
    Bytes copied = exported;
    put16(copied, BLK_COMMAND, CMD_RESPONSE);
    EXPECT_EQ(h.request(message(0x3456, {exported}, 0x4321)),
              concat({words({ERR_SENDER_ID, 0, 0, 0x3456, 0x4321, 1}), copied}));
    const Bytes failed =
        block(CMD_EXPORT_USER_LOG, concat({words({0}), text_bytes("\\N\\O", true)}));
    EXPECT_EQ(h.request(message(0x3457, {failed})), default_response(0x3457));
}

// Box requests (a box without a kind uses no sequence number), a notification and a status text,
// byte for byte; every segment is given back.
TEST_F(Task, RequestsToThePartnersByteForByte) {
    h.command(CMD_UI_READY);
    EXPECT_EQ(result_of(h.report(kBox, "x")), BTN_OK);
    EXPECT_EQ(result_of(h.report(kNoKind, "y")), 0);
    EXPECT_EQ(result_of(h.report(kBox, "x")), BTN_OK);
    EXPECT_EQ(result_of(h.report(kApiOne, "x$4")), 0);
    h.command(CMD_VARIANT_B);
    EXPECT_EQ(result_of(h.report(kIec)), 0);
    h.settle();

    const std::uint16_t qmbx = h.world.error_qmbx();
    const auto answer = [](std::uint16_t seq, std::uint16_t code) {
        return words({GUI_SENDER_ID, 0, 0, 0xFFFF, 0xFFFF, 1, CMD_BOX_ANSWER, 10, seq, seq, code});
    };
    // The header, the block head, the box's head (type, buttons, marks, flags, title and text
    // offsets, the descriptors {label, 22, answer, 0}), then the variable area.
    const auto request = [](std::uint16_t mbx, Bytes block_head, Bytes head) {
        head.resize(BOX_VARIABLE_AREA - BLK_HEAD_SIZE, 0);
        return concat({words({ERR_SENDER_ID, std::uint16_t(mbx ? 2 : 0), mbx, 0xFFFF, 0xFFFF, 1}),
                       block_head, head});
    };
    const auto box = [&](std::uint16_t seq) {
        return concat({request(qmbx, words({CMD_SHOW_BOX, 130, 0, 0}),
                               words({155, 2, 0, 0, 0x08, 64, 70, 76, 22, 79, 0, 101, 22, 108, 0})),
                       text_bytes("ERROR", true), text_bytes("Box x", true), text_bytes("OK", true),
                       answer(seq, BTN_OK), text_bytes("CANCEL", true), answer(seq, BTN_CANCEL)});
    };
    const Bytes no_kind =
        concat({request(0, words({CMD_SHOW_BOX, 70, 0, 0}), words({155, 0, 0, 0, 0x09, 0, 64})),
                text_bytes("Box y", true)});
    EXPECT_EQ(h.records(Partner::ui), (std::vector<Bytes>{box(1), no_kind, box(2)}));
    EXPECT_EQ(
        h.records(Partner::api),
        std::vector<Bytes>{words({ERR_SENDER_ID, 2, h.world.error_mbx(), 0, 0, 1, CMD_API_NOTIFY,
                                  24, 0, 0, API_ERROR_ONE_PARAM, 0, 0, 0, 0, 0, 4, kApiOne})});
    EXPECT_EQ(h.records(Partner::status),
              std::vector<Bytes>{concat({words({ERR_SENDER_ID, 2, qmbx, 0xFFFF, 0xFFFF, 1,
                                                CMD_STATUS_TEXT, 41, 0, 0, 61}),
                                         text_bytes(std::string(kLongText, 30), true)})});
    EXPECT_TRUE(segments_given_back());
}

// Box answers are read within segment and block: strays (another command, another box) and
// broken ones are skipped and freed, short ones answer 0.
TEST_F(Task, BoxAnswersAreReadWithinTheirSegmentAndBlock) {
    int round = 0;  // used in the user-interface thread only
    h.responder = [&](const Bytes& request) {
        const std::uint16_t mbx = get16(request, MSG_REPLY_MBX);
        const std::size_t at = MSG_HEADER_SIZE + get16(request, MSG_HEADER_SIZE + BOX_BUTTONS + 4);
        const std::uint16_t seq = get16(request, at + 16);
        const std::uint16_t cmd = CMD_BOX_ANSWER;
        const Bytes good = words({GUI_SENDER_ID, 0, 0, 0, 0, 1, cmd, 10, seq, seq, BTN_CANCEL});
        Bytes no_block = good;
        put16(no_block, MSG_BLOCK_COUNT, 0);
        for (const Bytes& stray :
             {words({GUI_SENDER_ID, 0, 0, 0, 0, 1, CMD_ASYNC_BOX_ANSWER, 10, seq, seq, 3}),
              words({GUI_SENDER_ID, 0, 0, 0, 0, 1, cmd, 10, std::uint16_t(seq + 1), seq, 3}),
              words({GUI_SENDER_ID, 0, 0, 0, 0, 1, cmd, 10, seq, std::uint16_t(seq + 1), 3}),
              Bytes{1, 2, 3, 4}, no_block, Bytes(good.begin(), good.begin() + 18)})
            host_system::send(mbx, stray);
        // Round 1: the segment ends before the code; round 2: the block does; round 3: good.
        Bytes last = good;
        if (++round == 1) last.resize(20);
        if (round == 2) put16(last, MSG_HEADER_SIZE + BLK_LENGTH, 8);
        host_system::send(mbx, last);
    };
    h.command(CMD_UI_READY);
    EXPECT_EQ(result_of(h.report(kBox)), 0);
    EXPECT_EQ(result_of(h.report(kBox)), 0);
    EXPECT_EQ(result_of(h.report(kBox)), BTN_CANCEL);
    h.settle();
    EXPECT_TRUE(segments_given_back());
}

// A failed wait on ERROR_MBX is printed and followed by a pause; six in a row suspend the task.
TEST_F(Task, FailedWaitsOnErrorMbxPauseThenSuspend) {
    const auto failed_receives = [] {
        rtx_host_counters c{};
        rtx_host_get_counters(&c);
        return c.failed[RTX_OP_RECEIVE];
    };
    const auto failed = [](const char* status) {
        return note(std::string("Failed to receive message\nrtx_status.status:     ") + status);
    };
    // With every other receiver blocked, the task's next wait fails.
    const auto fail_next_wait = [&](std::uint32_t count, std::uint16_t status) {
        std::vector<std::uint16_t> receivers = h.world.partner_mailboxes();
        receivers.push_back(h.world.error_mbx());
        for (std::uint16_t mbx : receivers)
            wait_until([mbx] { return rtx_host_mailbox_waiters(mbx) != 0; }, "a receiver");
        rtx_host_fail_next(RTX_OP_RECEIVE, count, status);
    };
    const std::uint64_t before = failed_receives();
    fail_next_wait(1, 0x42);
    h.command(CMD_UI_READY);
    wait_until([&] { return failed_receives() != before; }, "the failed wait");
    h.sync();
    EXPECT_EQ(h.console(), failed("0042"));
    EXPECT_TRUE(err::task_state().ui_ready);

    fail_next_wait(6, 0x43);
    h.command(CMD_UI_NOT_READY);
    ASSERT_TRUE(h.wait_suspended());
    std::string expected;
    for (int i = 0; i < 6; ++i) expected += failed("0043");
    EXPECT_EQ(h.console(), expected + "Suspending Error Task\n---------------------\n");
    EXPECT_EQ(rtx_host_resume_task(CATALOG_ERROR_TASK), 0);
    EXPECT_EQ(result_of(h.report(kStop)), 2);
    EXPECT_FALSE(err::task_state().ui_ready);
}

// A failed allocation gives up its step quietly (each request allocates its own segment first).
TEST_F(Task, FailedAllocationsGiveUpQuietly) {
    h.command(CMD_UI_READY);
    rtx_host_fail(RTX_OP_ALLOC, 1, 1, RTX_E_NOMEM);  // the report's answer
    EXPECT_EQ(h.request(message(0x77, {report_block(kStop)})), default_response(0x77));
    rtx_host_fail(RTX_OP_ALLOC, 1, 1, RTX_E_NOMEM);  // the box: the chain goes on with 0
    EXPECT_EQ(result_of(h.report(kSysBox)), 0);
    rtx_host_fail(RTX_OP_ALLOC, 1, 1, RTX_E_NOMEM);  // the notification
    EXPECT_EQ(result_of(h.report(kApiOne, "3")), 0);
    // The export's answer: the file is written, but the show-once errors stay as they are.
    h.report(kUserOnce, "first");
    rtx_host_fail(RTX_OP_ALLOC, 1, 1, RTX_E_NOMEM);
    const auto export_to = [&](const char* name) {
        const Bytes data = concat({words({0}), text_bytes(name, true)});
        return h.request(message(2, {block(CMD_EXPORT_USER_LOG, data)})).size() > MSG_HEADER_SIZE;
    };
    EXPECT_FALSE(export_to("\\A.TXT"));
    EXPECT_NE(h.root.text("A.TXT").find("Once first"), std::string::npos);
    h.report(kUserOnce, "second");
    h.settle();
    EXPECT_TRUE(h.records(Partner::ui).empty());
    EXPECT_TRUE(h.records(Partner::api).empty());
    EXPECT_TRUE(export_to("\\B.TXT"));
    EXPECT_EQ(h.root.text("B.TXT").find("second"), std::string::npos);
    EXPECT_TRUE(segments_given_back());
}

// Logs whose files vanished: each failed archive or erase is printed with the log's name; the
// report is still answered and its show-once bit still cleared.
TEST_F(Task, FailedFileOpensArePrinted) {
    std::filesystem::remove(h.root.host_path("LOG/USERERR.LOG"));
    std::filesystem::remove(h.root.host_path("LOG/SYSERR.LOG"));
    EXPECT_EQ(result_of(h.report(kStop)), 2);  // not archived: nothing printed
    EXPECT_EQ(h.console(), "");
    EXPECT_EQ(h.report(kUserOnce, "x").size(), RESPONSE_SIZE);
    h.report(65534);
    h.report(kSystemOnce);
    h.command(CMD_ERASE_ALL_USER);
    h.command(CMD_ERASE_ALL_SYSTEM);
    h.command(CMD_ERASE_SELECTED_USER, words({1, 1}));
    h.command(CMD_ERASE_SELECTED_SYSTEM, words({0}));
    h.sync();
    EXPECT_EQ(h.console(), log_failure(1, "Failed to archive error nr.: 5006") +
                               log_failure(0, "Failed to archive error nr.: -2") +
                               log_failure(0, "Failed to archive error nr.: 5007") +
                               log_failure(1, "Failed to erase all errors") +
                               log_failure(0, "Failed to erase all errors") +
                               log_failure(1, "Failed to erase selected errors") +
                               log_failure(0, "Failed to erase selected errors"));
    EXPECT_EQ(E_FindErrTablebyId(kUserOnce)->state & ES_NOT_SHOWN, 0);
}

// API_MBX is looked up until found, then kept; the notifications before were dropped.
TEST(TaskLateApi, ApiMailboxIsLookedUpUntilFound) {
    register_table();
    Harness h({.api_mbx = false});
    h.start();
    // Two notifications and a box answer (which sends nothing); returns the lookups made.
    const auto lookups_of_a_round = [&](const std::string& round) {
        rtx_host_counters before{}, after{};
        rtx_host_get_counters(&before);
        h.report(kApiOne, round);
        h.report(kApiTwo, round + ",1");
        h.command(CMD_ASYNC_BOX_ANSWER, words({3}));
        h.sync();
        rtx_host_get_counters(&after);
        return after.calls[RTX_OP_LOOKUP] - before.calls[RTX_OP_LOOKUP];
    };
    EXPECT_EQ(lookups_of_a_round("1"), 3u);
    const std::uint16_t api = rtx_host_create_mailbox(CATALOG_API_MBX);
    EXPECT_EQ(lookups_of_a_round("2"), 1u);
    EXPECT_EQ(rtx_host_mailbox_depth(api), 2u);
    EXPECT_EQ(lookups_of_a_round("3"), 0u);
    EXPECT_EQ(h.console(), "");
}

}  // namespace
