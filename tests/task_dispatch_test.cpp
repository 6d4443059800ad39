// The error task's start-up, its walk over the blocks of a message, its switches and the
// commands that answer or print.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "err/err.h"
#include "support/task_harness.h"
#include "task_state.h"

namespace {

using errtest::ArchiveFile;
using errtest::block;
using errtest::Bytes;
using errtest::concat;
using errtest::get16;
using errtest::message;
using errtest::report_block;
using errtest::TaskHarness;
using errtest::text_bytes;
using errtest::words;

constexpr std::uint16_t kModule = 2;
constexpr std::uint16_t kBoxError = 3001;  // user error, box without buttons
constexpr std::uint16_t kPlain1 = 3002;
constexpr std::uint16_t kPlain2 = 3003;

ErrTableEntry g_table[] = {
    errtest::entry(kBoxError, EF_ARCHIVE, ACT_BOX_ERROR, "Box %s", "DISP", mb_auto_box),
    errtest::entry(kPlain1, EF_ARCHIVE, ACT_NONE, "Plain one %s", "DISP"),
    errtest::entry(kPlain2, EF_ARCHIVE, ACT_NONE, "Plain two %s", "DISP"),
    errtest::end_entry(),
};

const std::string kStartupFailure0003 =
    "Error Task Initialization Error\n-------------------------------\n"
    "rtx_status.status:     0003\n"
    "Suspending Error Task\n---------------------\n";

std::uint16_t catalog_id(const char* counted_name) {
    std::uint16_t id = 0;
    rtx_status status{};
    rtx_searchcatalog(&id, counted_name, 0, &status);
    return status.status == RTX_OK ? id : 0;
}

std::uintmax_t file_size(const TaskHarness& h, const std::string& relative) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(h.host_path(relative), ec);
    return ec ? 0 : size;
}

TEST(TaskStartup, CleanStartCreatesTheLogsAndPrintsNothing) {
    TaskHarness h;
    h.start();
    EXPECT_EQ(h.console(), "");
    EXPECT_EQ(file_size(h, "LOG/SYSERR.LOG"), 15848u);
    EXPECT_EQ(file_size(h, "LOG/USERERR.LOG"), 15848u);
    const err::TaskState& st = err::task_state();
    EXPECT_EQ(st.error_mbx, h.error_mbx());
    EXPECT_EQ(st.error_qmbx, h.error_qmbx());
    EXPECT_TRUE(st.boxes_enabled);
    EXPECT_TRUE(st.system_errors_enabled);
    EXPECT_FALSE(st.ui_ready);
    EXPECT_FALSE(st.variant_b);
    EXPECT_EQ(st.archive_all, 0);
    EXPECT_EQ(st.box_sequence, 0);
}

TEST(TaskStartup, FailedLookupSuspendsTheTaskUntilItIsResumed) {
    errtest::HarnessOptions options;
    options.error_qmbx = false;  // the second lookup fails
    TaskHarness h(options);
    h.start_only();
    ASSERT_TRUE(h.wait_until_suspended());
    EXPECT_EQ(h.console(), kStartupFailure0003);
    // Suspended in the middle of its start: the logs are not set up yet.
    EXPECT_EQ(file_size(h, "LOG/SYSERR.LOG"), 0u);

    // Resumed, it goes on with the remaining lookups, the logs and the main loop.
    h.resume();
    h.sync();
    EXPECT_EQ(h.console(), kStartupFailure0003);
    EXPECT_EQ(file_size(h, "LOG/SYSERR.LOG"), 15848u);
    EXPECT_EQ(file_size(h, "LOG/USERERR.LOG"), 15848u);
    EXPECT_EQ(err::task_state().gui_mbx, catalog_id(CATALOG_GUI_MBX));
}

TEST(TaskStartup, FailedSystemLogShowsTheLastLookupStatusAndSkipsTheUserLog) {
    errtest::HarnessOptions options;
    options.log_folder = false;  // the system log cannot be created
    TaskHarness h(options);
    h.start_only();
    ASSERT_TRUE(h.wait_until_suspended());
    EXPECT_EQ(h.console(),
              "error_task:\n-----------\nFailed to open file \\LOG\\SYSERR.LOG\n"
              "Error Task Initialization Error\n-------------------------------\n"
              "rtx_status.status:     0000\n"
              "Suspending Error Task\n---------------------\n");
    h.resume();
    h.sync();
    // The system log is switched off and the user log was never set up.
    EXPECT_EQ(err::log_slot(0).path[0], '\0');
    EXPECT_EQ(err::log_slot(1).path[0], '\0');
    EXPECT_FALSE(std::filesystem::exists(h.host_path("LOG")));
    EXPECT_FALSE(err::task_state().ui_ready);
    EXPECT_TRUE(err::task_state().boxes_enabled);
}

TEST(TaskDispatch, BlocksActInTheirOrder) {
    errtest::register_table(kModule, g_table);
    TaskHarness h;
    h.start();
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
    const ArchiveFile user = h.export_log(1);
    ASSERT_EQ(user.errors.size(), 2u);
    EXPECT_EQ(user.errors[0].text, "Box two");
    EXPECT_EQ(user.errors[1].text, "Box one");
    EXPECT_EQ(h.console(), "");
}

TEST(TaskDispatch, MessagesWithoutWorkGetOnlyTheDefaultResponse) {
    TaskHarness h;
    h.start();
    // No blocks at all.
    Bytes empty = message(0x2345, {});
    errtest::put16(empty, MSG_REPLIED_TAG, 0x6789);
    EXPECT_EQ(h.request(empty), words({ERR_SENDER_ID, 0, 0, 0x2345, 0x6789, 0}));
    // An answer (command 4) sent to the task is dropped silently.
    Bytes answer = message(0x2346, {block(CMD_RESPONSE, words({9}))});
    errtest::put16(answer, MSG_REPLIED_TAG, 0x0102);
    EXPECT_EQ(h.request(answer), words({ERR_SENDER_ID, 0, 0, 0x2346, 0x0102, 0}));
    // Without reply_mode nothing comes back.
    h.send(message(0x2347, {block(CMD_RESPONSE)}));
    h.sync();
    EXPECT_EQ(h.replies_waiting(), 0u);
    EXPECT_EQ(h.console(), "");
}

TEST(TaskDispatch, UnknownCommandsArePrintedAndTheOtherBlocksStillRun) {
    TaskHarness h;
    h.start();
    h.send(message(0x4242, {block(CMD_BOX_ANSWER, words({3}), 1, 1), block(700),
                            block(CMD_UI_READY), block(0xFFFF)}));
    h.sync();
    EXPECT_EQ(h.console(),
              "Error Task:\n-----------\nUnknown Command received\nCommand:   602\n"
              "Sender ID: 16962\n"
              "Error Task:\n-----------\nUnknown Command received\nCommand:   700\n"
              "Sender ID: 16962\n"
              "Error Task:\n-----------\nUnknown Command received\nCommand:   65535\n"
              "Sender ID: 16962\n");
    EXPECT_TRUE(err::task_state().ui_ready);
}

TEST(TaskDispatch, SetErrorStateAppliesTheMasksToOneDefinition) {
    errtest::register_table(kModule, g_table);
    TaskHarness h;
    h.start();
    ErrTableEntry* one = E_FindErrTablebyId(kPlain1);
    ErrTableEntry* two = E_FindErrTablebyId(kPlain2);
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);

    h.command(CMD_SET_ERROR_STATE, words({kPlain1, 0xFFEF, 0}));
    h.sync();
    EXPECT_EQ(one->state, ES_ALL & ~ES_NOT_SHOWN);
    EXPECT_EQ(two->state, ES_ALL);

    // AND first, then OR.
    h.command(CMD_SET_ERROR_STATE, words({kPlain2, 0x0000, ES_ENABLED | ES_ARCHIVE}));
    h.sync();
    EXPECT_EQ(two->state, ES_ENABLED | ES_ARCHIVE);
    h.command(CMD_SET_ERROR_STATE, words({kPlain2, ES_ARCHIVE, ES_BOX}));
    h.sync();
    EXPECT_EQ(two->state, ES_ARCHIVE | ES_BOX);

    // A number without a definition changes nothing.
    h.command(CMD_SET_ERROR_STATE, words({4999, 0, 0}));
    h.sync();
    EXPECT_EQ(one->state, ES_ALL & ~ES_NOT_SHOWN);
    EXPECT_EQ(two->state, ES_ARCHIVE | ES_BOX);

    // The cleared ES_NOT_SHOWN gates the error: answered 0 and not archived.
    EXPECT_EQ(get16(h.report(kPlain1, "x"), 20), 0);
    EXPECT_EQ(h.export_log(1).errors.size(), 0u);
    EXPECT_EQ(h.console(), "");
}

TEST(TaskDispatch, SwitchCommandsAndTheirReset) {
    TaskHarness h;
    h.start();
    const err::TaskState& st = err::task_state();

    h.send(message(0x10, {block(CMD_BOXES_OFF), block(CMD_VARIANT_B), block(CMD_UI_READY),
                          block(CMD_SYSTEM_ERR_OFF), block(CMD_ARCHIVE_ALL, words({1}))}));
    h.sync();
    EXPECT_FALSE(st.boxes_enabled);
    EXPECT_TRUE(st.variant_b);
    EXPECT_TRUE(st.ui_ready);
    EXPECT_FALSE(st.system_errors_enabled);
    EXPECT_EQ(st.archive_all, 1);

    // 600 puts four switches back and leaves archive_all alone.
    h.command(CMD_RESET_SWITCHES);
    h.sync();
    EXPECT_TRUE(st.boxes_enabled);
    EXPECT_FALSE(st.variant_b);
    EXPECT_FALSE(st.ui_ready);
    EXPECT_TRUE(st.system_errors_enabled);
    EXPECT_EQ(st.archive_all, 1);

    // The single switches, both ways.
    h.send(message(0x10, {block(CMD_BOXES_OFF), block(CMD_BOXES_ON), block(CMD_VARIANT_B),
                          block(CMD_VARIANT_A), block(CMD_UI_READY), block(CMD_UI_NOT_READY),
                          block(CMD_SYSTEM_ERR_OFF), block(CMD_SYSTEM_ERR_ON),
                          block(CMD_ARCHIVE_ALL, words({0x1234}))}));
    h.sync();
    EXPECT_TRUE(st.boxes_enabled);
    EXPECT_FALSE(st.variant_b);
    EXPECT_FALSE(st.ui_ready);
    EXPECT_TRUE(st.system_errors_enabled);
    EXPECT_EQ(st.archive_all, 0x1234);
    EXPECT_EQ(h.console(), "");
}

TEST(TaskDispatch, ExportIsAnsweredWithACopyOfItsBlock) {
    errtest::register_table(kModule, g_table);
    TaskHarness h;
    h.start();
    h.report_quietly(kPlain1, "exported");

    const Bytes request_block =
        block(CMD_EXPORT_USER_LOG, concat({words({0x7777}), text_bytes("\\ARCH.TXT", true)}),
              0x1111, 0x2222);
    Bytes request = message(0x3456, {request_block});
    errtest::put16(request, MSG_REPLIED_TAG, 0x4321);
    const Bytes answer = h.request(request);

    Bytes expected = words({ERR_SENDER_ID, 0, 0, 0x3456, 0x4321, 1});
    Bytes copied = request_block;
    errtest::put16(copied, 0, CMD_RESPONSE);
    expected.insert(expected.end(), copied.begin(), copied.end());
    EXPECT_EQ(answer, expected);
    EXPECT_EQ(answer.size(), 12u + 8u + 2u + 10u);

    std::ifstream in(h.host_path("ARCH.TXT"), std::ios::binary);
    std::string first_line;
    std::getline(in, first_line);
    EXPECT_EQ(first_line, "001\r");

    // The system log answers the same way.
    const ArchiveFile system = h.export_log(0, "\\SYS.TXT");
    EXPECT_TRUE(system.answered);
    EXPECT_EQ(system.raw, "000\r\n0\r\nN\r\n");

    // An archive file that cannot be created: no answer of its own, only the default one.
    const Bytes failed = h.request(
        message(0x3457, {block(CMD_EXPORT_SYSTEM_LOG,
                               concat({words({0}), text_bytes("\\NO\\SUCH\\DIR.TXT", true)}))}));
    EXPECT_EQ(failed, words({ERR_SENDER_ID, 0, 0, 0x3457, 0, 0}));
    EXPECT_EQ(h.console(), "");
}

TEST(TaskDispatch, EraseCommandsAndTheirFailures) {
    errtest::register_table(kModule, g_table);
    TaskHarness h;
    h.start();
    h.report_quietly(kPlain1, "a");
    h.report_quietly(kPlain2, "b");
    h.report_quietly(kPlain1, "c");

    // 616: erase record 2 (the second error) of the user log.
    h.command(CMD_ERASE_SELECTED_USER, words({1, 2}));
    ArchiveFile user = h.export_log(1);
    ASSERT_EQ(user.errors.size(), 2u);
    EXPECT_EQ(user.errors[0].text, "Plain one c");
    EXPECT_EQ(user.errors[1].text, "Plain one a");

    // 614 clears the user log; 615 and 617 leave it alone.
    h.command(CMD_ERASE_ALL_SYSTEM);
    h.command(CMD_ERASE_SELECTED_SYSTEM, words({1, 3}));
    EXPECT_EQ(h.export_log(1).errors.size(), 2u);
    h.command(CMD_ERASE_ALL_USER);
    EXPECT_EQ(h.export_log(1).errors.size(), 0u);
    EXPECT_EQ(h.console(), "");

    // Logs whose files vanished: each failure is printed with the log's name.
    std::filesystem::remove(h.host_path("LOG/USERERR.LOG"));
    std::filesystem::remove(h.host_path("LOG/SYSERR.LOG"));
    h.command(CMD_ERASE_ALL_USER);
    h.command(CMD_ERASE_ALL_SYSTEM);
    h.command(CMD_ERASE_SELECTED_USER, words({1, 1}));
    h.command(CMD_ERASE_SELECTED_SYSTEM, words({0}));
    h.sync();
    EXPECT_EQ(h.console(),
              "error_task:\n-----------\nFailed to open file \\LOG\\USERERR.LOG\n"
              "error_task:\n-----------\nFailed to erase all errors\non log_file USER\n"
              "error_task:\n-----------\nFailed to open file \\LOG\\SYSERR.LOG\n"
              "error_task:\n-----------\nFailed to erase all errors\non log_file SYSTEM\n"
              "error_task:\n-----------\nFailed to open file \\LOG\\USERERR.LOG\n"
              "error_task:\n-----------\nFailed to erase selected errors\non log_file USER\n"
              "error_task:\n-----------\nFailed to open file \\LOG\\SYSERR.LOG\n"
              "error_task:\n-----------\nFailed to erase selected errors\non log_file SYSTEM\n");
}

}  // namespace
