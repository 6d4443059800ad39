// Report processing: gating, archiving, the action chain with its API notifications, unknown
// numbers and the answer to the reporter.
#include "support/task_harness.h"

namespace {

using namespace errtest;

constexpr std::uint16_t kModule = 4;
constexpr std::uint16_t kUserOnce = 5001;
constexpr std::uint16_t kSystemOnce = 5002;
constexpr std::uint16_t kSystemBox = 5003;
constexpr std::uint16_t kNotArchived = 5004;
constexpr std::uint16_t kApiTwo = 5005;   // action 16
constexpr std::uint16_t kApiOne = 5006;   // action 18
constexpr std::uint16_t kApiLast = 5007;  // action 10
constexpr std::uint16_t kStop = 5008;     // action 2
constexpr std::uint16_t kTwoPlaces = 5009;

ErrTableEntry g_table[] = {
    entry(kUserOnce, EF_ARCHIVE | EF_SHOW_ONCE, ACT_NONE, "User once %s", "REP"),
    entry(kSystemOnce, EF_SYSTEM | EF_ARCHIVE | EF_SHOW_ONCE, ACT_NONE, "System once", "REP"),
    entry(kSystemBox, EF_SYSTEM | EF_ARCHIVE, ACT_BOX_ERROR, "System box", "REP", mb_auto_box),
    entry(kNotArchived, 0, ACT_NONE, "Not archived %s", nullptr),
    entry(kApiTwo, EF_ARCHIVE, ACT_API_TWO_INFO, "Api two", "REP"),
    entry(kApiOne, EF_ARCHIVE, ACT_API_ONE, "Api one", "REP"),
    entry(kApiLast, 0, ACT_API_TWO, "Api last", "REP"),
    entry(kStop, 0, ACT_STOP, "Stop", "REP"),
    entry(kTwoPlaces, EF_ARCHIVE, ACT_NONE, "first=%s second=%s", "COMPONENT-TOO-LONG"),
    end_entry(),
};

using TaskReport = TaskTest<kModule, g_table>;

// The answer echoes sender and tags with the result; only reports that ask are answered.
TEST_F(TaskReport, AnswerCarriesTagsAndResultOnlyWhenAsked) {
    Bytes request = message(0x0A0B, {report_block(kStop)}, 0xBEEF);
    put16(request, 12 + BLK_TAG1, 0xAAAA);
    put16(request, 12 + BLK_TAG2, 0xBBBB);
    // Action 2 ends the chain with the result 2.
    EXPECT_EQ(h.request(request),
              words({ERR_SENDER_ID, 0, 0, 0x0A0B, 0xBEEF, 1, CMD_RESPONSE, 10, 0xAAAA, 0xBBBB, 2}));

    // Without reply_mode a report is never answered.
    h.report_quietly(kStop);
    h.report_quietly(4444);  // unknown
    h.sync();                // fails when an answer comes before its own

    // Two reports in one message asking for an answer: each is answered.
    h.send_asking(message(0x0C0C, {report_block(kStop), report_block(kNotArchived)}));
    EXPECT_EQ(result_of(h.receive_reply()), 2);
    EXPECT_EQ(result_of(h.receive_reply()), 0);
    h.sync();  // and no third one
}

// Show-once errors: handled once until an export of their log re-arms them (a failed one: not).
TEST_F(TaskReport, ShowOnceErrorsAreHandledOnceUntilAnExportArmsThem) {
    h.report(kUserOnce, "1");
    h.report(kUserOnce, "2");
    h.report(kSystemOnce);
    h.report(kSystemOnce);
    // Exporting the system log arms the system errors only.
    EXPECT_EQ(texts(h.export_log(0)), Texts{"System once"});
    h.report(kUserOnce, "3");
    h.report(kSystemOnce);
    EXPECT_EQ(texts(h.export_log(1)), Texts{"User once 1"});
    // Now the user error is armed again as well.
    h.report(kUserOnce, "4");
    h.report(kUserOnce, "5");
    EXPECT_EQ(texts(h.export_log(1)), (Texts{"User once 4", "User once 1"}));
    EXPECT_EQ(texts(h.export_log(0)), (Texts{"System once", "System once"}));

    h.report(kUserOnce, "6");
    EXPECT_FALSE(h.export_log(1, "\\NO\\SUCH\\FOLDER.TXT").answered);
    h.report(kUserOnce, "7");
    EXPECT_EQ(texts(h.export_log(1)), (Texts{"User once 6", "User once 4", "User once 1"}));
}

// While system errors are off, a system error is answered 0 and neither shown nor archived.
TEST_F(TaskReport, SystemErrorsAreIgnoredWhileSwitchedOff) {
    h.command(CMD_UI_READY);
    h.command(CMD_SYSTEM_ERR_OFF);
    EXPECT_EQ(result_of(h.report(kSystemBox)), 0);
    h.report(kUserOnce, "user");  // user errors still go through
    h.settle();
    EXPECT_TRUE(h.box_requests().empty());
    EXPECT_TRUE(h.export_log(0).errors.empty());
    EXPECT_EQ(texts(h.export_log(1)), Texts{"User once user"});

    h.command(CMD_SYSTEM_ERR_ON);
    EXPECT_EQ(result_of(h.report(kSystemBox)), 0);
    h.settle();
    EXPECT_EQ(h.box_requests().size(), 1u);
    EXPECT_EQ(texts(h.export_log(0)), Texts{"System box"});
}

// EF_ARCHIVE, ES_ARCHIVE and archive_all decide archiving; components are cut to 15 characters.
TEST_F(TaskReport, ArchiveDecisionAndArchiveAll) {
    // Without EF_ARCHIVE: not archived, until archive_all is set.
    h.report(kNotArchived, "a");
    h.command(CMD_ARCHIVE_ALL, words({1}));
    h.report(kNotArchived, "b");
    // archive_all does not pass the gate: a disabled error stays out.
    h.command(CMD_SET_ERROR_STATE, words({kNotArchived, std::uint16_t(~ES_ENABLED), 0}));
    h.report(kNotArchived, "c");
    h.command(CMD_ARCHIVE_ALL, words({0}));
    // ES_ARCHIVE cleared: not archived.
    h.command(CMD_SET_ERROR_STATE, words({kTwoPlaces, std::uint16_t(~ES_ARCHIVE), 0}));
    h.report(kTwoPlaces, "x$y");
    h.command(CMD_SET_ERROR_STATE, words({kTwoPlaces, 0xFFFF, ES_ARCHIVE}));
    h.report(kTwoPlaces, "x$y");

    const ArchiveFile user = h.export_log(1);
    ASSERT_EQ(texts(user), (Texts{"first=x second=y", "Not archived b"}));
    EXPECT_EQ(user.errors[0].component, "COMPONENT-TOO-L");
    EXPECT_EQ(user.errors[0].code, "05009");
    EXPECT_EQ(user.errors[1].component, "");
    EXPECT_TRUE(h.export_log(0).errors.empty());
}

// Actions 16 and 18 take parameters after the info text's last "$"; action 10 resends them.
TEST_F(TaskReport, ApiNotificationsCarryTheParametersOfTheInfoText) {
    struct Step {
        std::uint16_t nr;
        const char* info;
        std::uint16_t kind, param2, param1;  // of the notification sent
    };
    const Step steps[] = {
        // Action 10 before any 16, 17 or 18: parameters 0.
        {kApiLast, "", API_ERROR_TWO_PARAMS, 0, 0},
        // Action 16: first and third character after the last "$".
        {kApiTwo, "ignored$9,9$1,2", API_ERROR_TWO_PARAMS, 2, 1},
        {kApiTwo, "3,0", API_ERROR_TWO_PARAMS, 0, 3},  // parameter 2 is 0: not archived
        {kApiTwo, "4,1", API_ERROR_TWO_PARAMS, 1, 4},
        {kApiTwo, "7", API_ERROR_TWO_PARAMS, 0, 7},  // the missing third character counts as "0"
        {kApiTwo, "", API_ERROR_TWO_PARAMS, 0, 0},
        {kApiTwo, "6,8", API_ERROR_TWO_PARAMS, 8, 6},
        // Action 10 sends what the last action 16 left behind.
        {kApiLast, "", API_ERROR_TWO_PARAMS, 8, 6},
        // Action 18: first character, 0 for an empty text; word 5 is 0.
        {kApiOne, "abc$", API_ERROR_ONE_PARAM, 0, 0},
        {kApiOne, "x$5", API_ERROR_ONE_PARAM, 0, 5},
        // Action 10 after 18: parameter 1 from 18, parameter 2 still from the last 16.
        {kApiLast, "", API_ERROR_TWO_PARAMS, 8, 5},
    };
    std::vector<Bytes> expected;
    for (const Step& s : steps) {
        EXPECT_EQ(result_of(h.report(s.nr, s.info)), 0) << s.nr << " " << s.info;
        expected.push_back(words({ERR_SENDER_ID, 2, h.error_mbx(), 0, 0, 1, CMD_API_NOTIFY, 24, 0,
                                  0, s.kind, 0, 0, 0, 0, s.param2, s.param1, s.nr}));
    }
    h.settle();
    EXPECT_EQ(h.api_messages(), expected);

    // Archived: action 16 only with a parameter 2 other than 0.
    EXPECT_EQ(texts(h.export_log(1)),
              (Texts{"Api one", "Api one", "Api two", "Api two", "Api two"}));
}

// API_MBX is looked up until found, then kept (no API_MBX at start: a suite of its own).
TEST(TaskReportLateApi, ApiMailboxIsLookedUpUntilFound) {
    register_table(kModule, g_table);
    TaskHarness h({.api_mbx = false});
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
    // Each call looked again; the notifications were dropped.
    EXPECT_EQ(lookups_of_a_round("1"), 3u);
    // One more lookup finds it; it is kept.
    const std::uint16_t api = rtx_host_create_mailbox(CATALOG_API_MBX);
    EXPECT_EQ(lookups_of_a_round("2"), 1u);
    EXPECT_EQ(rtx_host_mailbox_depth(api), 2u);
    EXPECT_EQ(lookups_of_a_round("3"), 0u);
    EXPECT_EQ(h.take_console(), "");
}

// Unknown numbers go to the system log, the info text filling up the 80 characters.
TEST_F(TaskReport, UnknownNumbersGoToTheSystemLog) {
    EXPECT_EQ(result_of(h.report(7, "abc")), 0);
    EXPECT_EQ(result_of(h.report(32768)), 0);
    h.report(65000, std::string(120, 'i'));
    const ArchiveFile system = h.export_log(0);
    // "Unknown Error ID: -536" is 22 characters; the info fills the rest of the 80.
    ASSERT_EQ(texts(system), (Texts{"Unknown Error ID: -536" + std::string(58, 'i'),
                                    "Unknown Error ID: -32768", "Unknown Error ID: 7abc"}));
    EXPECT_EQ(system.errors[2].code, "00007");
    EXPECT_EQ(system.errors[2].component, "");
    EXPECT_EQ(system.errors[1].code, "32768");
    EXPECT_TRUE(h.export_log(1).errors.empty());
}

// A log that cannot be opened is printed; the report is still answered, show-once still done.
TEST_F(TaskReport, FailedArchivingIsPrintedAndTheReportStillAnswered) {
    std::filesystem::remove(h.host_path("LOG/USERERR.LOG"));
    std::filesystem::remove(h.host_path("LOG/SYSERR.LOG"));
    EXPECT_EQ(result_of(h.report(kStop)), 2);  // not archived: nothing printed
    EXPECT_EQ(h.take_console(), "");
    EXPECT_EQ(h.report(kUserOnce, "x").size(), 22u);
    h.report(65535 - 1);
    h.report(kSystemOnce);
    EXPECT_EQ(h.take_console(), log_failure(1, "Failed to archive error nr.: 5001") +
                                    log_failure(0, "Failed to archive error nr.: -2") +
                                    log_failure(0, "Failed to archive error nr.: 5002"));
    EXPECT_EQ(E_FindErrTablebyId(kUserOnce)->state & ES_NOT_SHOWN, 0);
}

// A failed allocation gives up its step quietly (each request allocates its own segment first).
TEST_F(TaskReport, FailedAllocationsGiveUpQuietly) {
    h.command(CMD_UI_READY);
    // The report's answer: the request gets the executive's default response instead.
    rtx_host_fail(RTX_OP_ALLOC, 1, 1, RTX_E_NOMEM);
    EXPECT_EQ(h.request(message(0x77, {report_block(kStop)})), default_response(0x77));
    // The box: nothing shown, the chain goes on with 0 and the report is answered.
    rtx_host_fail(RTX_OP_ALLOC, 1, 1, RTX_E_NOMEM);
    EXPECT_EQ(result_of(h.report(kSystemBox)), 0);
    // The API notification: dropped.
    rtx_host_fail(RTX_OP_ALLOC, 1, 1, RTX_E_NOMEM);
    EXPECT_EQ(result_of(h.report(kApiOne, "3")), 0);
    // The export's answer: the archive file is written, but there is no answer of its own and
    // the show-once errors stay as they are.
    h.report(kUserOnce, "first");
    rtx_host_fail(RTX_OP_ALLOC, 1, 1, RTX_E_NOMEM);
    EXPECT_FALSE(h.export_log(1).answered);
    h.report(kUserOnce, "second");
    h.settle();
    EXPECT_TRUE(h.box_requests().empty());
    EXPECT_TRUE(h.api_messages().empty());
    const ArchiveFile user = h.export_log(1);
    EXPECT_TRUE(user.answered);
    EXPECT_EQ(texts(user), (Texts{"User once first", "Api one"}));
    EXPECT_EQ(h.live_segments(), 0u);
}

}  // namespace
