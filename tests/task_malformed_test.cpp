// Messages from other tasks are not trusted: whatever arrives, the error task reads only inside
// the segment and the block, prints what it skips, answers and frees as usual, and keeps
// serving.
#include <set>

#include "support/task_harness.h"

namespace {

using namespace errtest;

constexpr std::uint16_t kModule = 5;
constexpr std::uint16_t kGood = 5101;
constexpr std::uint16_t kBox = 5102;

ErrTableEntry g_table[] = {
    entry(kGood, EF_ARCHIVE, ACT_NONE, "Good %s", "MAL"),
    entry(kBox, 0, ACT_BOX_ERROR, "Box", "MAL", mb_ok_cancel),
    end_entry(),
};

using TaskMalformed = TaskTest<kModule, g_table>;

// What the task prints for each skipped "message" or "command" of sender.
std::string skipped(const std::string& what, int sender, std::initializer_list<int> commands) {
    std::string out;
    for (int command : commands) {
        out += task_note("Malformed " + what + " skipped\nCommand:   " + std::to_string(command) +
                         "\nSender ID: " + std::to_string(sender));
    }
    return out;
}

// A good report still works after the bad input: answered and archived.
void expect_still_serving(TaskHarness& h, const std::string& info) {
    EXPECT_EQ(h.report(kGood, info).size(), 22u);
    const ArchiveFile user = h.export_log(1);
    ASSERT_FALSE(user.errors.empty());
    EXPECT_EQ(user.errors[0].text, "Good " + info);
}

// Headers shorter than twelve bytes are skipped and freed.
TEST_F(TaskMalformed, HeadersShorterThanTwelveBytesAreSkipped) {
    h.send(Bytes{});
    h.send(words({0x4444, 0, 0}));                         // 6 bytes
    h.send(Bytes{0x10, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 1});  // 11 bytes, block_count cut
    h.sync();
    EXPECT_EQ(h.take_console(), skipped("message", 0, {0}) + skipped("message", 0x4444, {0}) +
                                    skipped("message", 0x10, {0}));
    EXPECT_EQ(h.live_segments(), 0u);
    expect_still_serving(h, "after short headers");
}

// A block that cannot be walked ends the message; the blocks before it were handled.
TEST_F(TaskMalformed, BlocksThatCannotBeWalkedEndTheMessage) {
    const err::TaskState& st = err::task_state();

    // block_count 3, one block present: it is handled, then the walk stops.
    Bytes three = message(0x21, {block(CMD_UI_READY)});
    put16(three, MSG_BLOCK_COUNT, 3);
    EXPECT_EQ(h.request(three), default_response(0x21));
    EXPECT_TRUE(st.ui_ready);

    // block_length 0 and 4: no way to the next block, which is not handled.
    for (std::uint16_t length : {0, 4}) {
        const std::uint16_t sender = length == 0 ? 0x22 : 0x23;
        EXPECT_EQ(h.request(concat({words({sender, 0, 0, 0, 0, 2}),
                                    words({CMD_BOXES_OFF, length, 0, 0}), block(CMD_VARIANT_B)})),
                  default_response(sender));
    }
    EXPECT_TRUE(st.boxes_enabled);
    EXPECT_FALSE(st.variant_b);

    // A report whose block_length runs past the segment.
    Bytes cut = message(0x24, {report_block(kGood, "never")});
    cut.resize(12 + 100);
    EXPECT_EQ(h.request(cut), default_response(0x24));

    // A second block of which only three bytes exist: its command is still readable.
    Bytes tail = concat({message(0x25, {block(CMD_UI_NOT_READY)}), Bytes{0x05, 0x02, 0x08}});
    put16(tail, MSG_BLOCK_COUNT, 2);
    EXPECT_EQ(h.request(tail), default_response(0x25));
    EXPECT_FALSE(st.ui_ready);

    EXPECT_EQ(h.take_console(), skipped("message", 0x21, {0}) +
                                    skipped("message", 0x22, {CMD_BOXES_OFF}) +
                                    skipped("message", 0x23, {CMD_BOXES_OFF}) +
                                    skipped("message", 0x24, {CMD_REPORT_ERROR}) +
                                    skipped("message", 0x25, {0x0205}));
    EXPECT_TRUE(h.export_log(1).errors.empty());
    expect_still_serving(h, "after broken blocks");
    EXPECT_EQ(h.live_segments(), 0u);
}

// A block too short for its command's data is skipped on its own; the next block runs.
TEST_F(TaskMalformed, BlocksTooShortForTheirCommandAreSkippedOneByOne) {
    const err::TaskState& st = err::task_state();
    h.command(CMD_ARCHIVE_ALL, words({7}));
    // No OR mask; no answer number; a byte short of archive_all; half an error number.
    const Bytes request =
        message(0x31, {block(CMD_SET_ERROR_STATE, words({kGood, 0})), block(CMD_ASYNC_BOX_ANSWER),
                       block(CMD_ARCHIVE_ALL, Bytes{1}), block(CMD_REPORT_ERROR, Bytes{0x65}),
                       block(CMD_UI_READY)});
    EXPECT_EQ(h.request(request), default_response(0x31));
    EXPECT_EQ(h.take_console(), skipped("command", 0x31,
                                        {CMD_SET_ERROR_STATE, CMD_ASYNC_BOX_ANSWER, CMD_ARCHIVE_ALL,
                                         CMD_REPORT_ERROR}));
    EXPECT_TRUE(st.ui_ready);
    EXPECT_EQ(st.archive_all, 7);
    EXPECT_EQ(E_FindErrTablebyId(kGood)->state, ES_ALL);
    EXPECT_TRUE(h.export_log(1).errors.empty());
}

// A short report is read as far as its block goes: the info text ends with the block.
TEST_F(TaskMalformed, ShortReportsAreReadAsFarAsTheyGo) {
    // Only the error number: the info text is empty, and the report is answered.
    Bytes only_number = report_block(kGood, "unseen");
    only_number.resize(10);
    put16(only_number, BLK_LENGTH, 10);
    EXPECT_EQ(h.request(message(0x41, {only_number})),
              words({ERR_SENDER_ID, 0, 0, 0x41, 0, 1, CMD_RESPONSE, 10, 0, 0, 0}));

    // The block ends four bytes into the info text; the next block follows at once and is not
    // part of the text.
    Bytes four = report_block(kGood, "abcdefgh");
    four.resize(100);
    put16(four, BLK_LENGTH, 100);
    h.send(message(0x42, {four, block(CMD_UI_READY)}));
    h.sync();
    EXPECT_TRUE(err::task_state().ui_ready);
    // "Good " with its blank trimmed by the export.
    EXPECT_EQ(texts(h.export_log(1)), (Texts{"Good abcd", "Good"}));
}

// An export name must end inside its block; otherwise no file is written.
TEST_F(TaskMalformed, ExportNamesMustEndInsideTheirBlock) {
    // The name runs to the end of the block; the next block holds a zero byte.
    Bytes no_zero = message(
        0x51, {block(CMD_EXPORT_USER_LOG, concat({words({0}), text_bytes("\\OPEN.TXT", false)})),
               block(CMD_UI_READY)});
    EXPECT_EQ(h.request(no_zero), default_response(0x51));
    // No name at all.
    EXPECT_EQ(h.request(message(0x52, {block(CMD_EXPORT_SYSTEM_LOG, words({0}))})),
              default_response(0x52));
    EXPECT_EQ(h.take_console(), skipped("command", 0x51, {CMD_EXPORT_USER_LOG}) +
                                    skipped("command", 0x52, {CMD_EXPORT_SYSTEM_LOG}));
    EXPECT_TRUE(err::task_state().ui_ready);

    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(h.root()))
        names.insert(e.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"LOG", "TARNBOOT.INI"}));
}

// An erase list is read as far as its block goes: the numbers it holds are erased, silently.
TEST_F(TaskMalformed, EraseListsAreReadAsFarAsTheirBlockGoes) {
    for (const char* info : {"1", "2", "3", "4"}) h.report_quietly(kGood, info);
    // Count 5 with records 1 and 2; no count; count 1 with half a number (3).
    h.send(message(
        0x61, {block(CMD_ERASE_SELECTED_USER, words({5, 1, 2})), block(CMD_ERASE_SELECTED_USER),
               block(CMD_ERASE_SELECTED_USER, concat({words({1}), Bytes{3}}))}));
    h.sync();
    EXPECT_EQ(texts(h.export_log(1)), (Texts{"Good 4", "Good 3"}));
}

// Box answers are read within segment and block: broken ones skipped, short ones answer 0.
TEST_F(TaskMalformed, BoxAnswersAreReadWithinTheirSegmentAndBlock) {
    int round = 0;  // used by the responder in the user-interface thread only
    h.command(CMD_UI_READY);
    h.set_responder([&](const Bytes& request) {
        const std::uint16_t mbx = get16(request, MSG_REPLY_MBX);
        const std::size_t answer_at = 12 + get16(request, 12 + BOX_BUTTONS + 4);
        const std::uint16_t seq = get16(request, answer_at + 16);
        const Bytes good =
            words({GUI_SENDER_ID, 0, 0, 0, 0, 1, CMD_BOX_ANSWER, 10, seq, seq, BTN_CANCEL});
        // Bad ones first: too short for a header, no block, a block head cut short.
        Bytes no_block = good;
        put16(no_block, MSG_BLOCK_COUNT, 0);
        TaskHarness::send_to(mbx, Bytes{1, 2, 3, 4});
        TaskHarness::send_to(mbx, no_block);
        TaskHarness::send_to(mbx, Bytes(good.begin(), good.begin() + 18));
        // Round 1: matches, but the segment ends before the code. Round 2: matches, but its
        // block ends before the code that follows it. Round 3: the good answer.
        Bytes last = good;
        if (++round == 1) last.resize(20);
        if (round == 2) put16(last, 12 + BLK_LENGTH, 8);
        TaskHarness::send_to(mbx, last);
    });
    EXPECT_EQ(result_of(h.report(kBox)), 0);
    EXPECT_EQ(result_of(h.report(kBox)), 0);
    EXPECT_EQ(result_of(h.report(kBox)), BTN_CANCEL);
    h.settle();
    EXPECT_EQ(h.live_segments(), 0u);
}

// A failed wait on ERROR_MBX is printed and followed by a pause; six in a row suspend the task.
TEST_F(TaskMalformed, FailedWaitsOnErrorMbxPauseThenSuspend) {
    const auto failed_receives = [] {
        rtx_host_counters counters{};
        rtx_host_get_counters(&counters);
        return counters.failed[RTX_OP_RECEIVE];
    };
    const auto failed = [](const std::string& status) {
        return task_note("Failed to receive message\nrtx_status.status:     " + status);
    };
    // With every other receiver blocked, the task's next wait, after this command, fails once.
    const std::uint64_t before = failed_receives();
    h.wait_until_receivers_wait();
    rtx_host_fail_next(RTX_OP_RECEIVE, 1, 0x0042);
    h.command(CMD_UI_READY);
    wait_until([&] { return failed_receives() != before; }, "the failed wait");
    h.sync();
    EXPECT_EQ(h.take_console(), failed("0042"));
    EXPECT_TRUE(err::task_state().ui_ready);

    // Six failures in a row: five pauses, then the task suspends itself.
    h.wait_until_receivers_wait();
    rtx_host_fail_next(RTX_OP_RECEIVE, 6, 0x0043);
    h.command(CMD_UI_NOT_READY);
    ASSERT_TRUE(h.wait_until_suspended());
    std::string expected;
    for (int i = 0; i < 6; ++i) expected += failed("0043");
    EXPECT_EQ(h.take_console(), expected + "Suspending Error Task\n---------------------\n");

    // Resumed, it serves again.
    h.resume();
    expect_still_serving(h, "after failed waits");
    EXPECT_FALSE(err::task_state().ui_ready);
}

}  // namespace
