// The error task's start-up, its walk over the blocks of a message, its switches and the
// commands that answer or print.
#include <tuple>

#include "support/task_harness.h"

namespace {

using namespace errtest;

constexpr std::uint16_t kModule = 2;
constexpr std::uint16_t kBoxError = 3001;  // user error, box without buttons
constexpr std::uint16_t kPlain1 = 3002;
constexpr std::uint16_t kPlain2 = 3003;

ErrTableEntry g_table[] = {
    entry(kBoxError, EF_ARCHIVE, ACT_BOX_ERROR, "Box %s", "DISP", mb_auto_box),
    entry(kPlain1, EF_ARCHIVE, ACT_NONE, "Plain one %s", "DISP"),
    entry(kPlain2, EF_ARCHIVE, ACT_NONE, "Plain two %s", "DISP"),
    end_entry(),
};

using TaskDispatch = TaskTest<kModule, g_table>;

std::string startup_failure(const std::string& status) {
    return "Error Task Initialization Error\n-------------------------------\nrtx_status.status:   "
           "  " +
           status + "\nSuspending Error Task\n---------------------\n";
}

// Boxes on, variant B, interface ready, system errors on, archive_all.
std::tuple<bool, bool, bool, bool, int> switches() {
    const err::TaskState& st = err::task_state();
    return {st.boxes_enabled, st.variant_b, st.ui_ready, st.system_errors_enabled, st.archive_all};
}

// A clean start creates both logs, keeps the mailboxes and prints nothing.
TEST(TaskStartup, CleanStartCreatesTheLogsAndPrintsNothing) {
    TaskHarness h;
    h.start();
    EXPECT_EQ(h.take_console(), "");
    EXPECT_EQ(h.file_text("LOG/SYSERR.LOG").size(), 15848u);
    EXPECT_EQ(h.file_text("LOG/USERERR.LOG").size(), 15848u);
    EXPECT_EQ(err::task_state().error_mbx, h.error_mbx());
    EXPECT_EQ(err::task_state().error_qmbx, h.error_qmbx());
    EXPECT_EQ(switches(), std::make_tuple(true, false, false, true, 0));
    EXPECT_EQ(err::task_state().box_sequence, 0);
}

// A failed lookup suspends the task in its start; resumed, it finishes the start.
TEST(TaskStartup, FailedLookupSuspendsTheTaskUntilItIsResumed) {
    TaskHarness h({.error_qmbx = false});  // the second lookup fails
    ASSERT_TRUE(h.start_suspended());
    EXPECT_EQ(h.take_console(), startup_failure("0003"));
    // Suspended in the middle of its start: the logs are not set up yet.
    EXPECT_EQ(h.file_text("LOG/SYSERR.LOG").size(), 0u);

    // Resumed, it goes on with the remaining lookups, the logs and the main loop.
    h.resume();
    h.sync();
    EXPECT_EQ(h.take_console(), "");
    EXPECT_EQ(h.file_text("LOG/SYSERR.LOG").size(), 15848u);
    EXPECT_EQ(h.file_text("LOG/USERERR.LOG").size(), 15848u);
    EXPECT_EQ(err::task_state().gui_mbx, h.gui_mbx());
}

// No system log: the last lookup's status is shown, the task suspends, both logs stay off.
TEST(TaskStartup, FailedSystemLogShowsTheLastLookupStatusAndSkipsTheUserLog) {
    TaskHarness h({.log_folder = false});  // the system log cannot be created
    ASSERT_TRUE(h.start_suspended());
    EXPECT_EQ(h.take_console(),
              task_note("Failed to open file \\LOG\\SYSERR.LOG") + startup_failure("0000"));
    h.resume();
    h.sync();
    // The system log is switched off and the user log was never set up.
    EXPECT_EQ(err::log_slot(0).path[0], '\0');
    EXPECT_EQ(err::log_slot(1).path[0], '\0');
    EXPECT_FALSE(std::filesystem::exists(h.host_path("LOG")));
    EXPECT_FALSE(err::task_state().ui_ready);
    EXPECT_TRUE(err::task_state().boxes_enabled);
}

// The blocks of one message act in their order.
TEST_F(TaskDispatch, BlocksActInTheirOrder) {
    // 606 before the report: the interface is ready when the report is handled.
    h.send(message(0x1000, {block(CMD_UI_READY), report_block(kBoxError, "one")}));
    h.settle();
    ASSERT_EQ(h.box_requests().size(), 1u);

    h.command(CMD_UI_NOT_READY);
    // The report before 606: no box.
    h.send(message(0x1000, {report_block(kBoxError, "two"), block(CMD_UI_READY)}));
    h.settle();
    EXPECT_EQ(h.box_requests().size(), 1u);
    EXPECT_TRUE(err::task_state().ui_ready);
    // Both reports were archived, newest first.
    EXPECT_EQ(texts(h.export_log(1)), (Texts{"Box two", "Box one"}));
}

// Messages without work get only the default response, and only when they ask.
TEST_F(TaskDispatch, MessagesWithoutWorkGetOnlyTheDefaultResponse) {
    // No blocks at all.
    EXPECT_EQ(h.request(message(0x2345, {}, 0x6789)), default_response(0x2345, 0x6789));
    // An answer (command 4) sent to the task is dropped silently.
    EXPECT_EQ(h.request(message(0x2346, {block(CMD_RESPONSE, words({9}))}, 0x0102)),
              default_response(0x2346, 0x0102));
    // Without reply_mode nothing comes back.
    h.send(message(0x2347, {block(CMD_RESPONSE)}));
    h.sync();  // fails when an answer comes before its own
}

// Unknown commands are printed with the sender, and the other blocks still run.
TEST_F(TaskDispatch, UnknownCommandsArePrintedAndTheOtherBlocksStillRun) {
    h.send(message(0x4242, {block(CMD_BOX_ANSWER, words({3}), 1, 1), block(700),
                            block(CMD_UI_READY), block(0xFFFF)}));
    h.sync();
    std::string expected;
    for (const char* command : {"602", "700", "65535"}) {
        expected += "Error Task:\n-----------\nUnknown Command received\nCommand:   " +
                    std::string(command) + "\nSender ID: 16962\n";
    }
    EXPECT_EQ(h.take_console(), expected);
    EXPECT_TRUE(err::task_state().ui_ready);
}

// Set-error-state ANDs, then ORs the masks into one definition's state.
TEST_F(TaskDispatch, SetErrorStateAppliesTheMasksToOneDefinition) {
    const ErrTableEntry* one = E_FindErrTablebyId(kPlain1);
    const ErrTableEntry* two = E_FindErrTablebyId(kPlain2);
    ASSERT_TRUE(one && two);
    constexpr std::uint16_t kShown = ES_ALL & ~ES_NOT_SHOWN;
    struct Step {
        std::uint16_t nr, and_mask, or_mask, want_one, want_two;
    };
    const Step steps[] = {
        {kPlain1, 0xFFEF, 0, kShown, ES_ALL},
        // AND first, then OR.
        {kPlain2, 0x0000, ES_ENABLED | ES_ARCHIVE, kShown, ES_ENABLED | ES_ARCHIVE},
        {kPlain2, ES_ARCHIVE, ES_BOX, kShown, ES_ARCHIVE | ES_BOX},
        // A number without a definition changes nothing.
        {4999, 0, 0, kShown, ES_ARCHIVE | ES_BOX},
    };
    for (const Step& s : steps) {
        h.command(CMD_SET_ERROR_STATE, words({s.nr, s.and_mask, s.or_mask}));
        h.sync();
        EXPECT_EQ(one->state, s.want_one) << s.nr << " " << s.and_mask << " " << s.or_mask;
        EXPECT_EQ(two->state, s.want_two) << s.nr << " " << s.and_mask << " " << s.or_mask;
    }

    // The cleared ES_NOT_SHOWN gates the error: answered 0 and not archived.
    EXPECT_EQ(result_of(h.report(kPlain1, "x")), 0);
    EXPECT_EQ(h.export_log(1).errors.size(), 0u);
}

// The switch commands, both ways, and 600, which puts four of them back.
TEST_F(TaskDispatch, SwitchCommandsAndTheirReset) {
    h.send(message(0x10, {block(CMD_BOXES_OFF), block(CMD_VARIANT_B), block(CMD_UI_READY),
                          block(CMD_SYSTEM_ERR_OFF), block(CMD_ARCHIVE_ALL, words({1}))}));
    h.sync();
    EXPECT_EQ(switches(), std::make_tuple(false, true, true, false, 1));

    // 600 puts four switches back and leaves archive_all alone.
    h.command(CMD_RESET_SWITCHES);
    h.sync();
    EXPECT_EQ(switches(), std::make_tuple(true, false, false, true, 1));

    // The single switches, both ways.
    h.send(message(0x10, {block(CMD_BOXES_OFF), block(CMD_BOXES_ON), block(CMD_VARIANT_B),
                          block(CMD_VARIANT_A), block(CMD_UI_READY), block(CMD_UI_NOT_READY),
                          block(CMD_SYSTEM_ERR_OFF), block(CMD_SYSTEM_ERR_ON),
                          block(CMD_ARCHIVE_ALL, words({0x1234}))}));
    h.sync();
    EXPECT_EQ(switches(), std::make_tuple(true, false, false, true, 0x1234));
}

// An export is answered with a copy of its block; a failed one only by the default response.
TEST_F(TaskDispatch, ExportIsAnsweredWithACopyOfItsBlock) {
    h.report_quietly(kPlain1, "exported");

    const Bytes request_block =
        block(CMD_EXPORT_USER_LOG, concat({words({0x7777}), text_bytes("\\ARCH.TXT", true)}),
              0x1111, 0x2222);
    const Bytes answer = h.request(message(0x3456, {request_block}, 0x4321));
    Bytes copied = request_block;
    put16(copied, 0, CMD_RESPONSE);
    EXPECT_EQ(answer, concat({words({ERR_SENDER_ID, 0, 0, 0x3456, 0x4321, 1}), copied}));
    EXPECT_EQ(h.file_text("ARCH.TXT").substr(0, 5), "001\r\n");

    // The system log answers the same way.
    const ArchiveFile system = h.export_log(0, "\\SYS.TXT");
    EXPECT_TRUE(system.answered);
    EXPECT_EQ(system.raw, "000\r\n0\r\nN\r\n");

    // An archive file that cannot be created: no answer of its own, only the default one.
    const Bytes failed = h.request(
        message(0x3457, {block(CMD_EXPORT_SYSTEM_LOG,
                               concat({words({0}), text_bytes("\\NO\\SUCH\\DIR.TXT", true)}))}));
    EXPECT_EQ(failed, default_response(0x3457));

    // An export onto the live user log: refused with its text, not answered, the log kept.
    const std::string log = h.file_text("LOG/USERERR.LOG");
    const Bytes refused = h.request(
        message(0x3458, {block(CMD_EXPORT_USER_LOG,
                               concat({words({0}), text_bytes("\\LOG\\USERERR.LOG", true)}))}));
    EXPECT_EQ(refused, default_response(0x3458));
    EXPECT_EQ(h.take_console(),
              task_note("Export refused: \\LOG\\USERERR.LOG is an error log or its backup"));
    EXPECT_EQ(h.file_text("LOG/USERERR.LOG"), log);
}

// The erase commands, and their failures printed with the log's name.
TEST_F(TaskDispatch, EraseCommandsAndTheirFailures) {
    h.report_quietly(kPlain1, "a");
    h.report_quietly(kPlain2, "b");
    h.report_quietly(kPlain1, "c");

    // 616: erase record 2 (the second error) of the user log.
    h.command(CMD_ERASE_SELECTED_USER, words({1, 2}));
    EXPECT_EQ(texts(h.export_log(1)), (Texts{"Plain one c", "Plain one a"}));

    // 614 clears the user log; 615 and 617 leave it alone.
    h.command(CMD_ERASE_ALL_SYSTEM);
    h.command(CMD_ERASE_SELECTED_SYSTEM, words({1, 3}));
    EXPECT_EQ(h.export_log(1).errors.size(), 2u);
    h.command(CMD_ERASE_ALL_USER);
    EXPECT_EQ(h.export_log(1).errors.size(), 0u);
    EXPECT_EQ(h.take_console(), "");

    // Logs whose files vanished: each failure is printed with the log's name.
    std::filesystem::remove(h.host_path("LOG/USERERR.LOG"));
    std::filesystem::remove(h.host_path("LOG/SYSERR.LOG"));
    h.command(CMD_ERASE_ALL_USER);
    h.command(CMD_ERASE_ALL_SYSTEM);
    h.command(CMD_ERASE_SELECTED_USER, words({1, 1}));
    h.command(CMD_ERASE_SELECTED_SYSTEM, words({0}));
    h.sync();
    EXPECT_EQ(h.take_console(), log_failure(1, "Failed to erase all errors") +
                                    log_failure(0, "Failed to erase all errors") +
                                    log_failure(1, "Failed to erase selected errors") +
                                    log_failure(0, "Failed to erase selected errors"));
}

}  // namespace
