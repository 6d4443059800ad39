// Contract checks, the shared format buffer and the developer diagnostics: what each call
// reports, how the format buffer behaves when the executive's semaphore fails, and the three
// release settings of the diagnostics.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "core_helpers.h"
#include "err/err.h"

using core_test::read_report;
using core_test::take_message;

namespace {

class ContractTest : public ::testing::Test {
  protected:
    void SetUp() override {
        core_test::quiet_console();
        mbx_ = core_test::create_error_mbx();
    }
    core_test::Report next_report() { return read_report(take_message(mbx_)); }
    std::uint16_t mbx_ = 0;
};

}  // namespace

TEST_F(ContractTest, EachCheckReportsErrorTwoWithItsText) {
    _Q_assert("src\\dir\\check.cpp", 17);
    core_test::Report r = next_report();
    EXPECT_EQ(r.error_nr, 2);
    EXPECT_EQ(r.line, 17);
    EXPECT_EQ(r.file, "check.cpp");
    EXPECT_EQ(r.info, "assertion failed");

    _Q_require("/a/b/pre.c", 1);
    r = next_report();
    EXPECT_EQ(r.error_nr, 2);
    EXPECT_EQ(r.line, 1);
    EXPECT_EQ(r.file, "pre.c");
    EXPECT_EQ(r.info, "precondition failed");

    _Q_ensure("post.c", -3);
    r = next_report();
    EXPECT_EQ(r.line, -3);
    EXPECT_EQ(r.file, "post.c");
    EXPECT_EQ(r.info, "postcondition failed");

    Q_report_error("q.c", 99, "value %d of %s", 3, "seven");
    r = next_report();
    EXPECT_EQ(r.error_nr, 2);
    EXPECT_EQ(r.line, 99);
    EXPECT_EQ(r.info, "value 3 of seven");

    // "%" sequences in a fixed text are not taken from the stack: the text is the format.
    Q_report_error("q.c", 100, "%s", "100% sure");
    EXPECT_EQ(next_report().info, "100% sure");

    // The macros pass the place of the check.
    const int line = __LINE__ + 1;
    Q_ASSERT(1 == 2);
    r = next_report();
    EXPECT_EQ(r.line, line);
    EXPECT_EQ(r.file, "contract_test.cpp");
    EXPECT_EQ(r.info, "assertion failed");
    Q_REQUIRE(true);
    Q_ENSURE(true);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 0u);
    EXPECT_EQ(core_test::console(), "");
}

TEST_F(ContractTest, LongFormattedTextsAreCut) {
    // 200 characters: the report carries the first 120.
    const std::string text200 = std::string(150, 'a') + std::string(50, 'b');
    Q_report_error("q.c", 1, "%s", text200.c_str());
    std::vector<std::uint8_t> bytes = take_message(mbx_);
    EXPECT_EQ(core_test::raw_field(bytes, 108, 120), text200.substr(0, 120));

    // Far beyond the 256-byte buffer: no overrun (checked by the sanitizer build), the
    // report still carries the first 120 characters.
    const std::string huge = std::string(5000, 'z');
    Q_report_error("q.c", 2, "%s-%s-%d", huge.c_str(), huge.c_str(), 12345);
    bytes = take_message(mbx_);
    EXPECT_EQ(core_test::raw_field(bytes, 108, 120), std::string(120, 'z'));
    EXPECT_EQ(read_report(bytes).line, 2);

    // Null format: an empty text.
    Q_report_error("q.c", 3, nullptr);
    EXPECT_EQ(next_report().info, "");
}

// ---- Shared format buffer ------------------------------------------------------------------

TEST_F(ContractTest, FormatBufferIsEmptyUntilLocked) {
    char* first = EFormat("%d apples", 5);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "");
    EXPECT_EQ(core_test::counters().calls[RTX_OP_SEMA_CREATE], 0u);

    EFormatLock();
    char* text = EFormat("%d apples and %s", 5, "pears");
    EXPECT_EQ(text, first);  // always the same buffer
    EXPECT_STREQ(text, "5 apples and pears");
    char expected[200];
    std::snprintf(expected, sizeof expected, "%05.1f|%-4s|%x|%c", 3.14159, "ab", 255u, 'Q');
    EXPECT_STREQ(EFormat("%05.1f|%-4s|%x|%c", 3.14159, "ab", 255u, 'Q'), expected);

    // A long text is held within the 200 bytes: 199 characters and the terminator.
    const std::string huge(1000, 'w');
    text = EFormat("%s", huge.c_str());
    EXPECT_EQ(std::strlen(text), 199u);
    EXPECT_EQ(std::string(text), huge.substr(0, 199));

    // Passed as the info of a report, 120 characters travel.
    EReportError("f.c", 1, 2, EFormat("n=%d", 42));
    EFormatUnlock();
    EXPECT_EQ(next_report().info, "n=42");

    // Created once: locking again takes the same semaphore.
    EFormatLock();
    EXPECT_STREQ(EFormat("again %d", 2), "again 2");
    EFormatUnlock();
    EXPECT_EQ(core_test::counters().calls[RTX_OP_SEMA_CREATE], 1u);
    EXPECT_EQ(core_test::console(), "");
}

TEST_F(ContractTest, FormatBufferRetriesRefusedCreation) {
    rtx_host_fail_next(RTX_OP_SEMA_CREATE, 2, RTX_E_INJECTED);
    EFormatLock();
    EXPECT_STREQ(EFormat("x%d", 1), "");
    EFormatUnlock();
    EXPECT_STREQ(EFormat("x%d", 1), "");
    EFormatLock();
    EXPECT_STREQ(EFormat("x%d", 2), "");
    EXPECT_EQ(core_test::counters().calls[RTX_OP_SEMA_CREATE], 2u);
    EXPECT_EQ(core_test::counters().calls[RTX_OP_SEMA_TAKE], 0u);

    // The third attempt succeeds, and the buffer is usable.
    EFormatLock();
    EXPECT_STREQ(EFormat("x%d", 3), "x3");
    EFormatUnlock();
    EFormatLock();
    EXPECT_STREQ(EFormat("x%d", 4), "x4");
    EFormatUnlock();
    EXPECT_EQ(core_test::counters().calls[RTX_OP_SEMA_CREATE], 3u);
    EXPECT_EQ(core_test::console(), "");
}

TEST_F(ContractTest, FormatBufferUnusableAfterFailedTakeOrGive) {
    EFormatLock();
    EXPECT_STREQ(EFormat("ok %d", 1), "ok 1");
    EFormatUnlock();
    // A successful release leaves the buffer usable (EFormat does not check the lock).
    EXPECT_STREQ(EFormat("ok %d", 2), "ok 2");

    // Taking fails: empty texts until a lock succeeds again.
    rtx_host_fail_next(RTX_OP_SEMA_TAKE, 1, RTX_E_INJECTED);
    EFormatLock();
    EXPECT_STREQ(EFormat("ok %d", 3), "");
    EFormatLock();
    EXPECT_STREQ(EFormat("ok %d", 4), "ok 4");

    // Giving back fails: empty texts from then on, until the next successful lock.
    rtx_host_fail_next(RTX_OP_SEMA_GIVE, 1, RTX_E_INJECTED);
    EFormatUnlock();
    EXPECT_STREQ(EFormat("ok %d", 5), "");
    // The refused release left the unit taken; a successful release gives it back but leaves
    // the buffer unusable.
    EFormatUnlock();
    EXPECT_STREQ(EFormat("ok %d", 6), "");
    EFormatLock();
    EXPECT_STREQ(EFormat("ok %d", 7), "ok 7");
    EFormatUnlock();
    EXPECT_EQ(core_test::counters().calls[RTX_OP_SEMA_CREATE], 1u);
}

TEST_F(ContractTest, FormatBufferSerialisesTwoTasks) {
    // Two threads make their first lock together: one semaphore is created.
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::string seen[2];
    auto worker = [&](int n) {
        ready.fetch_add(1);
        while (!go.load()) std::this_thread::yield();
        for (int round = 0; round < 200; ++round) {
            EFormatLock();
            const std::string mine =
                "task " + std::to_string(n) + " round " + std::to_string(round);
            char* text = EFormat("task %d round %d", n, round);
            std::this_thread::yield();
            if (mine != text) seen[n] = std::string("saw ") + text + " instead of " + mine;
            EFormatUnlock();
        }
    };
    std::thread a(worker, 0);
    std::thread b(worker, 1);
    while (ready.load() < 2) std::this_thread::yield();
    go.store(true);
    a.join();
    b.join();
    EXPECT_EQ(seen[0], "");
    EXPECT_EQ(seen[1], "");
    EXPECT_EQ(core_test::counters().calls[RTX_OP_SEMA_CREATE], 1u);

    // The second locker waits until the first unlocks.
    EFormatLock();
    EXPECT_STREQ(EFormat("%s", "first"), "first");
    std::atomic<bool> locked{false};
    std::string second_text;
    std::thread second([&] {
        EFormatLock();
        locked.store(true);
        second_text = EFormat("%s", "second");
        EFormatUnlock();
    });
    for (int i = 0; i < 1000; ++i) std::this_thread::yield();
    EXPECT_FALSE(locked.load());
    EXPECT_STREQ(EFormat("%s", "first still"), "first still");
    EFormatUnlock();
    second.join();
    EXPECT_TRUE(locked.load());
    EXPECT_EQ(second_text, "second");
}

// ---- Developer diagnostics -----------------------------------------------------------------

namespace {

// A boot configuration folder of its own, with TARNBOOT.INI holding ini_text (no file when
// ini_text is null).
class DiagnosticsTest : public ContractTest {
  protected:
    void write_ini(const char* ini_text) {
        char pattern[] = "/tmp/err_diag_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        if (ini_text != nullptr) {
            std::ofstream out(dir_ + "/TARNBOOT.INI", std::ios::binary);
            out << ini_text;
        }
        rtx_host_set_ini_dir(dir_.c_str());
    }
    void TearDown() override {
        if (!dir_.empty()) {
            std::remove((dir_ + "/TARNBOOT.INI").c_str());
            rmdir(dir_.c_str());
        }
    }
    std::string dir_;
};

}  // namespace

TEST_F(DiagnosticsTest, ReleaseOneReportsTexts) {
    write_ini("[ErrorTask]\r\nSystemLogFile=\\LOG\\S.LOG\r\n[Eventlog]\r\nLogVXErrorRelease=1\r\n");

    // Before the first format call the setting is unknown: -1, nothing reported.
    EXPECT_EQ(_VX_TestShowErrorDialogLogInfo("x.c", 1, nullptr), -1);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 0u);

    char* text = _VX_formatErrorString("fault %d", 42);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "fault 42");
    EXPECT_EQ(_VX_TestShowErrorDialogLogInfo("dir\\diag.cpp", 321, text), 0);  // releases text
    core_test::Report r = next_report();
    EXPECT_EQ(r.error_nr, 2);
    EXPECT_EQ(r.line, 321);
    EXPECT_EQ(r.file, "diag.cpp");
    EXPECT_EQ(r.info, "fault 42");

    // Empty format: null, and the fixed text is reported.
    const char* empty_format = "";  // through a variable: an empty literal draws a warning
    EXPECT_EQ(_VX_formatErrorString(empty_format), nullptr);
    EXPECT_EQ(_VX_TestShowErrorDialogLogInfo("e.c", 5, nullptr), 0);
    r = next_report();
    EXPECT_EQ(r.line, 5);
    EXPECT_EQ(r.info, "VX_ERROR-Aufruf ohne Infotext - Review abgelehnt!");

    // More than 1023 characters: cut to 1023, the report carries the first 120.
    const std::string huge = std::string(1000, 'k') + std::string(500, 'm');
    text = _VX_formatErrorString("%s", huge.c_str());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::strlen(text), 1023u);
    EXPECT_EQ(std::string(text), huge.substr(0, 1023));
    _VX_TestShowErrorDialogLogInfo("l.c", 6, text);
    EXPECT_EQ(next_report().info, std::string(120, 'k'));

    // The macro: format first, then report with the caller's place.
    const int line = __LINE__ + 1;
    VX_ERROR("macro %s %d", "text", 7);
    r = next_report();
    EXPECT_EQ(r.line, line);
    EXPECT_EQ(r.file, "contract_test.cpp");
    EXPECT_EQ(r.info, "macro text 7");

    // The file was read once, however often the functions ran.
    EXPECT_EQ(core_test::counters().calls[RTX_OP_INI_READ], 1u);
    EXPECT_EQ(core_test::console(), "");
}

TEST_F(DiagnosticsTest, SettingIsReadOncePerLoad) {
    write_ini("[Eventlog]\r\nLogVXErrorRelease=  +1xyz\r\n");  // blanks, sign, digits, rest
    char* text = _VX_formatErrorString("%s", "a");
    ASSERT_NE(text, nullptr);
    // A later change of the file has no effect.
    {
        std::ofstream out(dir_ + "/TARNBOOT.INI", std::ios::binary | std::ios::trunc);
        out << "[Eventlog]\r\nLogVXErrorRelease=0\r\n";
    }
    _VX_TestShowErrorDialogLogInfo("a.c", 1, text);
    text = _VX_formatErrorString("%s", "b");
    ASSERT_NE(text, nullptr);
    _VX_TestShowErrorDialogLogInfo("b.c", 2, text);
    EXPECT_EQ(next_report().info, "a");
    EXPECT_EQ(next_report().info, "b");
    EXPECT_EQ(core_test::counters().calls[RTX_OP_INI_READ], 1u);
}

TEST_F(DiagnosticsTest, ReleaseZeroDoesNothing) {
    write_ini("[Eventlog]\r\nLogVXErrorRelease=0\r\n");
    EXPECT_EQ(_VX_formatErrorString("fault %d", 1), nullptr);
    EXPECT_EQ(_VX_TestShowErrorDialogLogInfo("a.c", 1, nullptr), 0);
    EXPECT_EQ(_VX_formatErrorString("%s", "x"), nullptr);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 0u);
    EXPECT_EQ(core_test::counters().calls[RTX_OP_ALLOC], 0u);
    EXPECT_EQ(core_test::console(), "");
}

TEST_F(DiagnosticsTest, ReleaseTwoFormatsButDoesNotReport) {
    write_ini("[Eventlog]\r\nLogVXErrorRelease=2\r\n");
    char* text = _VX_formatErrorString("fault %d", 9);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "fault 9");
    EXPECT_EQ(_VX_TestShowErrorDialogLogInfo("a.c", 1, text), 0);  // released, not reported
    EXPECT_EQ(_VX_TestShowErrorDialogLogInfo("a.c", 1, nullptr), 0);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 0u);
    EXPECT_EQ(core_test::counters().calls[RTX_OP_ALLOC], 0u);
}

TEST_F(DiagnosticsTest, MissingKeyOrFileDoesNothing) {
    write_ini("[Eventlog]\r\nOtherKey=1\r\n[Other]\r\nLogVXErrorRelease=1\r\n");
    EXPECT_EQ(_VX_formatErrorString("fault %d", 1), nullptr);
    EXPECT_EQ(_VX_TestShowErrorDialogLogInfo("a.c", 1, nullptr), 0);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 0u);
    EXPECT_EQ(core_test::console(), "");
}

TEST_F(DiagnosticsTest, UnreadableFileDoesNothing) {
    write_ini(nullptr);
    EXPECT_EQ(_VX_formatErrorString("fault %d", 1), nullptr);
    EXPECT_EQ(_VX_formatErrorString("fault %d", 2), nullptr);
    EXPECT_EQ(_VX_TestShowErrorDialogLogInfo("a.c", 1, nullptr), 0);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 0u);
    EXPECT_EQ(core_test::counters().calls[RTX_OP_INI_READ], 1u);
    EXPECT_EQ(core_test::console(), "");
}
