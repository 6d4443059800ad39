// The error task, for what its script cases (tests/cases/task_*) cannot reach: executive faults,
// exact bytes, segments given back, start-up and shutdown; and the expansion of error texts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "err/err.h"
#include "host_system/held_module.h"
#include "host_system/world.h"
#include "rtx/rtx_host.h"
#include "task_parts.h"
#include "task_state.h"

namespace {

using namespace host_system;
using Clock = std::chrono::steady_clock;
constexpr auto kLongWait = std::chrono::seconds(20);  // a hung task, not a timing check

constexpr std::uint16_t kModule = 4;
constexpr std::uint16_t kStop = 5001, kBox = 5002, kIec = 5003, kApiOne = 5004, kApiTwo = 5005,
                        kUserOnce = 5006, kSystemOnce = 5007, kNoKind = 5008;
const char kLongText[] = "Status text of forty-five characters, exactly";

ErrTableEntry g_table[] = {
    {kStop, 0, 0, ACT_STOP, 0, "Stop", "Stop", "T", nullptr, nullptr},
    {kBox, 0, 0, ACT_BOX_ERROR, 0, "Box %s", "", "T", mb_ok_cancel, nullptr},
    {kIec, EF_IEC_TEXT, 0, ACT_NONE, ACT_NONE, "A", kLongText, "T", nullptr, nullptr},
    {kApiOne, EF_ARCHIVE, 0, ACT_API_ONE, 0, "Api one", "", "T", nullptr, nullptr},
    {kApiTwo, EF_ARCHIVE, 0, ACT_API_TWO_INFO, 0, "Api two", "", "T", nullptr, nullptr},
    {kUserOnce, EF_ARCHIVE | EF_SHOW_ONCE, 0, 0, 0, "Once %s", "", "T", nullptr, nullptr},
    {kSystemOnce, EF_SYSTEM | EF_ARCHIVE | EF_SHOW_ONCE, 0, 0, 0, "S", "", "T", nullptr, nullptr},
    {kNoKind, 0, 0, ACT_BOX, 0, "Box %s", "", "T", nullptr, nullptr},
    {ERR_TABLE_END, 0, 0, 0, 0, "END OF TABLE", nullptr, nullptr, nullptr, nullptr},
};

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

// A running error task with partner tasks that record what they take: the user interface answers
// with the first marked button (or runs the responder), the API task only listens.
class Harness : private PartnerTasks {
    mutable std::mutex mutex_;
    std::vector<Bytes> taken_[3];

  public:
    explicit Harness(bool error_qmbx = true, bool api_mbx = true)
        : root(Root::temporary("err_task")),
          world(root, {.restart_module = restart_held_module,
                       .error_qmbx = error_qmbx,
                       .api_mbx = api_mbx,
                       .partners = PartnerLayout::separate,
                       .behaviour = this}) {
        EXPECT_TRUE(world.ready());
        // Another task first: the error task is not task 1, so that suspending task 1 instead of
        // the calling task would show.
        rtx_task_descriptor other{};
        other.start = [] {};
        rtx_status status{};
        EXPECT_EQ(ini_create_task(&other, "\x05OTHER", 0, &status), 1);
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
    Bytes reply() { return world.receive_reply(kLongWait).message; }  // empty: none
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
        EXPECT_TRUE(world.sync(kLongWait, &others).ok() && others.empty()) << "sync: no answer";
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
        E_RegisterErrorTable(kModule, g_table);
        h.start();
    }
    void TearDown() override { EXPECT_EQ(h.console(), "") << "printed and not checked"; }
    Harness h;
};

// A failed lookup suspends the task in its start; resumed, it finishes the start. A receive that
// fails with the shutdown status suspends the task itself, quietly.
TEST(TaskStart, FailedLookupAndShutdownStatusSuspendTheTaskItself) {
    Harness h(false);
    h.world.start();
    ASSERT_TRUE(h.wait_suspended());
    EXPECT_EQ(h.console(),
              "Error Task Initialization Error\n-------------------------------\n"
              "rtx_status.status:     0003\nSuspending Error Task\n---------------------\n");
    EXPECT_EQ(h.root.text("LOG/SYSERR.LOG").size(), 0u);
    EXPECT_EQ(rtx_host_resume_task(CATALOG_ERROR_TASK), 0);
    h.sync();
    EXPECT_EQ(h.root.text("LOG/USERERR.LOG").size(), 15848u);
    EXPECT_EQ(err::task_state().gui_mbx, h.world.gui_mbx());
    for (std::uint16_t mbx : h.world.partner_mailboxes())
        wait_until([mbx] { return rtx_host_mailbox_waiters(mbx) != 0; }, "a partner's receive");
    rtx_host_fail_next(RTX_OP_RECEIVE, 1, RTX_E_SHUTDOWN);
    h.command(CMD_UI_READY);
    EXPECT_TRUE(h.wait_suspended());
    EXPECT_EQ(h.console(), "");
}

// Answers echo sender and tags, only when asked; an export's is a copy of its block.
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

// Box requests (one without a kind takes no sequence number), notification and status text.
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

// Box answers: strays and broken ones are skipped and freed, short ones answer 0.
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
    // The failure is seen in the counters: the console's text may be read only while nothing
    // prints. The task prints before its next wait, which the sync's answer comes after.
    const auto failed_waits = [] {
        rtx_host_counters c{};
        rtx_host_get_counters(&c);
        return c.failed[RTX_OP_RECEIVE];
    };
    const auto failed_before = failed_waits();
    fail_next_wait(1, 0x42);
    h.command(CMD_UI_READY);
    wait_until([&] { return failed_waits() > failed_before; }, "the failed wait");
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
    EXPECT_EQ(result_of(h.report(kBox)), 0);
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
    h.report(kUserOnce, "second");
    h.settle();
    EXPECT_TRUE(h.records(Partner::ui).empty());
    EXPECT_TRUE(h.records(Partner::api).empty());
    EXPECT_TRUE(export_to("\\B.TXT"));
    EXPECT_EQ(h.root.text("B.TXT").find("second"), std::string::npos);
    EXPECT_TRUE(segments_given_back());
}

// Vanished log files: failed archives and erasures are printed; show-once still done.
TEST_F(Task, FailedFileOpensArePrinted) {
    std::filesystem::remove(h.root.host_path("LOG/USERERR.LOG"));
    std::filesystem::remove(h.root.host_path("LOG/SYSERR.LOG"));
    EXPECT_EQ(h.report(kUserOnce, "x").size(), RESPONSE_SIZE);
    h.report(65534);
    h.report(kSystemOnce);
    h.command(CMD_ERASE_ALL_USER);
    h.command(CMD_ERASE_ALL_SYSTEM);
    h.command(CMD_ERASE_SELECTED_USER, words({1, 1}));
    h.command(CMD_ERASE_SELECTED_SYSTEM, words({0}));
    h.sync();
    std::string want = log_failure(1, "Failed to archive error nr.: 5006") +
                       log_failure(0, "Failed to archive error nr.: -2") +
                       log_failure(0, "Failed to archive error nr.: 5007");
    for (const char* what : {"Failed to erase all errors", "Failed to erase selected errors"})
        want += log_failure(1, what) + log_failure(0, what);
    EXPECT_EQ(h.console(), want);
    EXPECT_EQ(E_FindErrTablebyId(kUserOnce)->state & ES_NOT_SHOWN, 0);
}

// A report finds what the registry holds when it comes: tables registered or removed between
// reports count at once, the lowest module defining a number wins, and numbers that share a
// place among the numbers the task keeps are told apart.
TEST_F(Task, ReportsSeeTheRegistryAsItIsNow) {
    constexpr std::uint16_t kLater = 6001, kSamePlace = kStop + err::kFoundDefinitions;
    ErrTableEntry later[] = {
        {kLater, 0, 0, ACT_STOP, 0, "Later", "", "T", nullptr, nullptr},
        {ERR_TABLE_END, 0, 0, 0, 0, "END OF TABLE", nullptr, nullptr, nullptr, nullptr},
    };
    ErrTableEntry lower[] = {
        {kStop, 0, 0, ACT_NONE, 0, "Lower", "", "T", nullptr, nullptr},
        {ERR_TABLE_END, 0, 0, 0, 0, "END OF TABLE", nullptr, nullptr, nullptr, nullptr},
    };
    const auto result = [&](std::uint16_t nr) { return result_of(h.report(nr)); };
    EXPECT_EQ(result(kLater), 0);  // unknown yet
    E_RegisterErrorTable(kModule + 5, later);
    EXPECT_EQ(result(kLater), ACT_STOP);
    E_RemoveErrorTable(kModule + 5);
    EXPECT_EQ(result(kLater), 0);
    EXPECT_EQ(result(kStop), ACT_STOP);
    EXPECT_EQ(result(kSamePlace), 0);
    EXPECT_EQ(result(kStop), ACT_STOP);
    E_RegisterErrorTable(kModule - 2, lower);
    EXPECT_EQ(result(kStop), 0);
    E_RemoveErrorTable(kModule - 2);
    EXPECT_EQ(result(kStop), ACT_STOP);
    g_table[0].id = kLater;       // renumbered in place, against the rule: not found under its old
    EXPECT_EQ(result(kStop), 0);  // number all the same
    g_table[0].id = kStop;
}

// API_MBX is looked up until found, then kept; the notifications before were dropped.
TEST(TaskLateApi, ApiMailboxIsLookedUpUntilFound) {
    E_RegisterErrorTable(kModule, g_table);
    Harness h(true, false);
    h.start();
    const auto lookups_of_a_round = [&](const std::string& round) {  // a box answer sends none
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
}

// Expansion of error texts: "%s" places take the "$"-separated parts of the info text, and
// nothing is written past the buffer's size.
std::string expand(const char* tmpl, const char* args, std::uint16_t size = 81) {
    char out[300];
    std::memset(out, '#', sizeof out);
    err::expand_error_text(out, size, tmpl, args);
    for (std::size_t i = size; i < sizeof out; ++i) EXPECT_EQ(out[i], '#') << "byte " << i;
    return std::string(out, strnlen(out, size));
}

TEST(ExpandErrorText, PlacesPercentsAndCuts) {
    // clang-format off
    const std::tuple<const char*, const char*, std::uint16_t, const char*> cases[] = {
        {"%s and %s", "a$b", 81, "a and b"}, {"%s and %s", "a", 81, "a and "},
        {"%s and %s", nullptr, 81, " and "}, {"%s and %s", "", 81, " and "},
        {"<%s>", "x$y$z", 81, "<x>"}, {"<%s|%s|%s>", "$$c", 81, "<||c>"},
        {"cost $%s", "5", 81, "cost $5"}, {"%d items", "x", 81, "%d items"},
        {"100%", "x", 81, "100%"}, {"%%s", "x", 81, "%x"}, {"a%", nullptr, 81, "a%"},
        {"%", "x", 81, "%"}, {"no places", "a$b", 81, "no places"}, {nullptr, "a$b", 81, ""},
        {"", "a", 81, ""}, {"abcdef%s", "XYZ", 5, "abcd"}, {"ab%s", "XYZ", 5, "abXY"},
        {"ab%s", "XY", 5, "abXY"}, {"a%d", nullptr, 3, "a%"}, {"abc", nullptr, 1, ""}, {"abc", nullptr, 0, ""},
    };
    // clang-format on
    for (const auto& [tmpl, args, size, want] : cases)
        EXPECT_EQ(expand(tmpl, args, size), want) << (tmpl ? tmpl : "null");
    // Exactly 80 characters fit in 81 bytes; more are cut to the first 80.
    const std::string eighty(80, 'x'), fifty(50, 'a'), forty(40, 'b');
    EXPECT_EQ(expand(eighty.c_str(), nullptr), eighty);
    EXPECT_EQ(expand((eighty + "yz").c_str(), nullptr), eighty);
    EXPECT_EQ(expand("%s-%s", (fifty + "$" + forty).c_str()), fifty + "-" + forty.substr(0, 29));
    err::expand_error_text(nullptr, 10, "abc", nullptr);  // no buffer: nothing happens
}

}  // namespace
