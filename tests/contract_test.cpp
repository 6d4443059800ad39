// Contract checks, the shared format buffer and the developer diagnostics: what each call
// reports, how the format buffer behaves when the executive's semaphore fails, and the three
// release settings of the diagnostics.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core_helpers.h"
#include "err/err.h"

using core_test::console;
using core_test::counters;
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
    // The next report as "ERROR_NR LINE FILE: INFO".
    std::string next() {
        const core_test::Report r = next_report();
        return std::to_string(r.error_nr) + " " + std::to_string(r.line) + " " + r.file + ": " +
               r.info;
    }
    std::uint16_t mbx_ = 0;
};

// Runs steps on the shared format buffer, one letter each: L lock, U unlock, F format "n"
// with the step's running number (each text is collected in brackets), t and g: the next
// take or give of the buffer's semaphore fails. Blanks only group the steps.
std::string run(const char* steps) {
    std::string texts;
    int n = 0;
    for (const char* step = steps; *step != '\0'; ++step) {
        if (*step == 'L') EFormatLock();
        if (*step == 'U') EFormatUnlock();
        if (*step == 'F') texts += "[" + std::string(EFormat("n%d", ++n)) + "]";
        if (*step == 't') rtx_host_fail_next(RTX_OP_SEMA_TAKE, 1, RTX_E_INJECTED);
        if (*step == 'g') rtx_host_fail_next(RTX_OP_SEMA_GIVE, 1, RTX_E_INJECTED);
    }
    return texts;
}

// The executive's rtx_createsema, wrapped for the module linked into this test: when armed,
// the next creation waits, after the executive has made its semaphore, until the test lets it
// go on, so that another task's first lock can overtake it.
constexpr int kHoldOff = 0, kHoldArmed = 1, kHoldWaiting = 2;
std::atomic<int> g_creation_hold{kHoldOff};

}  // namespace

extern "C" void rtx_createsema(std::uint16_t* out_sema, std::uint16_t initial,
                               std::uint16_t maximum, std::uint16_t option, rtx_status* status) {
    using Create =
        void (*)(std::uint16_t*, std::uint16_t, std::uint16_t, std::uint16_t, rtx_status*);
    static const auto create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "rtx_createsema"));
    create(out_sema, initial, maximum, option, status);
    int armed = kHoldArmed;
    if (g_creation_hold.compare_exchange_strong(armed, kHoldWaiting))
        while (g_creation_hold.load() == kHoldWaiting) std::this_thread::yield();
}

// Every check reports error 2 with its fixed text and the place of the check.
TEST_F(ContractTest, EachCheckReportsErrorTwoWithItsText) {
    _Q_assert("src\\dir\\check.cpp", 17);
    EXPECT_EQ(next(), "2 17 check.cpp: assertion failed");
    _Q_require("/a/b/pre.c", 1);
    EXPECT_EQ(next(), "2 1 pre.c: precondition failed");
    _Q_ensure("post.c", -3);
    EXPECT_EQ(next(), "2 -3 post.c: postcondition failed");
    Q_report_error("q.c", 99, "value %d of %s", 3, "seven");
    EXPECT_EQ(next(), "2 99 q.c: value 3 of seven");
    // "%" sequences in a fixed text are not taken from the stack: the text is the format.
    Q_report_error("q.c", 100, "%s", "100% sure");
    EXPECT_EQ(next(), "2 100 q.c: 100% sure");

    // The macros pass the place of the check.
    const int line = __LINE__ + 1;
    Q_ASSERT(1 == 2);
    EXPECT_EQ(next(), "2 " + std::to_string(line) + " contract_test.cpp: assertion failed");
    Q_REQUIRE(true);
    Q_ENSURE(true);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 0u);
    EXPECT_EQ(console(), "");
}

// A formatted text is cut to what the report carries, however long it gets.
TEST_F(ContractTest, LongFormattedTextsAreCut) {
    // Far beyond the 256-byte buffer: no overrun (checked by the sanitizer build), the
    // report carries the first 120 characters.
    const std::string huge = std::string(5000, 'z');
    Q_report_error("q.c", 2, "%s-%s-%d", huge.c_str(), huge.c_str(), 12345);
    const std::vector<std::uint8_t> bytes = take_message(mbx_);
    EXPECT_EQ(core_test::raw_field(bytes, 108, 120), std::string(120, 'z'));
    EXPECT_EQ(read_report(bytes).line, 2);

    // Null format: an empty text.
    Q_report_error("q.c", 3, nullptr);
    EXPECT_EQ(next_report().info, "");
}

// ---- Shared format buffer ------------------------------------------------------------------

// EFormat writes into one buffer of 200 bytes, and only while the buffer is locked.
TEST_F(ContractTest, FormatBufferIsEmptyUntilLocked) {
    char* first = EFormat("%d apples", 5);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "");
    EXPECT_EQ(counters().calls[RTX_OP_SEMA_CREATE], 0u);

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
    EXPECT_EQ(run("LFU"), "[n1]");
    EXPECT_EQ(counters().calls[RTX_OP_SEMA_CREATE], 1u);
    EXPECT_EQ(console(), "");
}

// A refused creation of the semaphore leaves the texts empty; the next lock tries again.
TEST_F(ContractTest, FormatBufferRetriesRefusedCreation) {
    rtx_host_fail_next(RTX_OP_SEMA_CREATE, 2, RTX_E_INJECTED);
    EXPECT_EQ(run("LFUF LF"), "[][][]");
    EXPECT_EQ(counters().calls[RTX_OP_SEMA_CREATE], 2u);
    EXPECT_EQ(counters().calls[RTX_OP_SEMA_TAKE], 0u);
    // The third attempt succeeds, and the buffer is usable.
    EXPECT_EQ(run("LFU LFU"), "[n1][n2]");
    EXPECT_EQ(counters().calls[RTX_OP_SEMA_CREATE], 3u);
    EXPECT_EQ(console(), "");
}

// A failed take or give makes the texts empty until the next successful lock.
TEST_F(ContractTest, FormatBufferUnusableAfterFailedTakeOrGive) {
    // A successful release leaves the buffer usable (EFormat does not check the lock).
    EXPECT_EQ(run("LFUF"), "[n1][n2]");
    EXPECT_EQ(run("tLF LF"), "[][n2]");
    // The refused release left the unit taken; a successful release gives it back but leaves
    // the buffer unusable.
    EXPECT_EQ(run("gUF UF LFU"), "[][][n3]");
    EXPECT_EQ(counters().calls[RTX_OP_SEMA_CREATE], 1u);
}

// Tasks racing their first lock: whatever semaphores they create, they all use one, so no
// two of them are ever inside the buffer together; later locks create none.
TEST_F(ContractTest, FormatBufferSerialisesRacingTasks) {
    constexpr int kTasks = 4;
    std::atomic<int> ready{0};
    std::atomic<int> inside{0};
    std::atomic<bool> go{false};
    std::string seen[kTasks];
    auto worker = [&](int n) {
        ready.fetch_add(1);
        while (!go.load()) std::this_thread::yield();
        for (int round = 0; round < 200; ++round) {
            EFormatLock();
            const int others = inside.fetch_add(1);
            const std::string mine =
                "task " + std::to_string(n) + " round " + std::to_string(round);
            char* text = EFormat("task %d round %d", n, round);
            std::this_thread::yield();
            if (mine != text) seen[n] = std::string("saw ") + text + " instead of " + mine;
            if (others != 0) seen[n] = "entered beside another task";
            inside.fetch_sub(1);
            EFormatUnlock();
        }
    };
    std::vector<std::thread> tasks;
    for (int n = 0; n < kTasks; ++n) tasks.emplace_back(worker, n);
    while (ready.load() < kTasks) std::this_thread::yield();
    go.store(true);
    for (auto& t : tasks) t.join();
    for (const std::string& s : seen) EXPECT_EQ(s, "");
    const std::uint64_t created = counters().calls[RTX_OP_SEMA_CREATE];
    EXPECT_GE(created, 1u);
    EXPECT_LE(created, std::uint64_t{kTasks});
    EXPECT_EQ(run("LFU"), "[n1]");
    EXPECT_EQ(counters().calls[RTX_OP_SEMA_CREATE], created);
}

// A first lock overtaken by another task's creation uses the other task's semaphore: it
// waits while the other task holds the buffer. The second locker waits for the first.
TEST_F(ContractTest, FormatBufferOvertakenCreationWaitsForTheHolder) {
    ASSERT_EQ(counters().calls[RTX_OP_SEMA_CREATE], 0u) << "needs a process of its own";
    g_creation_hold.store(kHoldArmed);
    std::atomic<bool> locked{false};
    std::string text;
    std::thread late([&] {
        EFormatLock();
        locked.store(true);
        text = EFormat("%s", "late");
        EFormatUnlock();
    });
    while (g_creation_hold.load() != kHoldWaiting) std::this_thread::yield();
    EFormatLock();  // creates the semaphore that both use, and takes it
    EXPECT_STREQ(EFormat("%s", "first"), "first");
    g_creation_hold.store(kHoldOff);
    for (int i = 0; i < 1000; ++i) std::this_thread::yield();
    EXPECT_FALSE(locked.load());
    EXPECT_STREQ(EFormat("%s", "first still"), "first still");
    EFormatUnlock();
    late.join();
    EXPECT_EQ(text, "late");
    EXPECT_EQ(counters().calls[RTX_OP_SEMA_CREATE], 2u);
}

// ---- Developer diagnostics -----------------------------------------------------------------

namespace {

// A boot configuration folder of its own, with TARNBOOT.INI holding ini_text (no file when
// ini_text is null); a second call rewrites the file in the same folder.
class DiagnosticsTest : public ContractTest {
  protected:
    void write_ini(const char* ini_text) {
        if (dir_.empty()) {
            char pattern[] = "/tmp/err_diag_XXXXXX";
            ASSERT_NE(mkdtemp(pattern), nullptr);
            dir_ = pattern;
            rtx_host_set_ini_dir(dir_.c_str());
        }
        if (ini_text != nullptr)
            std::ofstream(dir_ + "/TARNBOOT.INI", std::ios::binary) << ini_text;
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

// Release 1 ("  +1xyz": blanks, sign, digits, rest): texts are formatted and reported with the
// caller's place. The setting is read once, at the first format call.
TEST_F(DiagnosticsTest, ReleaseOneReportsTexts) {
    write_ini(
        "[ErrorTask]\r\nSystemLogFile=\\LOG\\S.LOG\r\n[Eventlog]\r\nLogVXErrorRelease=  +1xyz\r\n");

    // Before the first format call the setting is unknown: -1, nothing reported.
    EXPECT_EQ(_VX_TestShowErrorDialogLogInfo("x.c", 1, nullptr), -1);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 0u);

    char* text = _VX_formatErrorString("fault %d", 42);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "fault 42");
    write_ini("[Eventlog]\r\nLogVXErrorRelease=0\r\n");  // a later change has no effect
    EXPECT_EQ(_VX_TestShowErrorDialogLogInfo("dir\\diag.cpp", 321, text), 0);  // releases text
    EXPECT_EQ(next(), "2 321 diag.cpp: fault 42");

    // Empty format: null, and the fixed text is reported.
    const char* empty_format = "";  // through a variable: an empty literal draws a warning
    EXPECT_EQ(_VX_formatErrorString(empty_format), nullptr);
    EXPECT_EQ(_VX_TestShowErrorDialogLogInfo("e.c", 5, nullptr), 0);
    EXPECT_EQ(next(), "2 5 e.c: VX_ERROR-Aufruf ohne Infotext - Review abgelehnt!");

    // More than 1023 characters: cut to 1023, the report carries the first 120.
    const std::string huge = std::string(1000, 'k') + std::string(500, 'm');
    text = _VX_formatErrorString("%s", huge.c_str());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), huge.substr(0, 1023));
    _VX_TestShowErrorDialogLogInfo("l.c", 6, text);
    EXPECT_EQ(next_report().info, std::string(120, 'k'));

    // The macro: format first, then report with the caller's place.
    const int line = __LINE__ + 1;
    VX_ERROR("macro %s %d", "text", 7);
    EXPECT_EQ(next(), "2 " + std::to_string(line) + " contract_test.cpp: macro text 7");

    // The file was read once, however often the functions ran.
    EXPECT_EQ(counters().calls[RTX_OP_INI_READ], 1u);
    EXPECT_EQ(console(), "");
}

// Settings under which nothing is reported: release 0, release 2 (which formats), no key,
// no file. Every call is harmless and the file is read once.
struct QuietSetting {
    const char* name;
    const char* ini;        // null: no file
    const char* formatted;  // what the format call returns ("<null>" for null)
};

class DiagnosticsQuiet : public DiagnosticsTest,
                         public ::testing::WithParamInterface<QuietSetting> {};

TEST_P(DiagnosticsQuiet, NothingIsReported) {
    write_ini(GetParam().ini);
    for (int round = 0; round < 2; ++round) {
        char* text = _VX_formatErrorString("fault %d", 9);
        EXPECT_EQ(text == nullptr ? "<null>" : std::string(text), GetParam().formatted);
        EXPECT_EQ(_VX_TestShowErrorDialogLogInfo("a.c", 1, text), 0);  // releases text
    }
    EXPECT_EQ(_VX_TestShowErrorDialogLogInfo("a.c", 1, nullptr), 0);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 0u);
    EXPECT_EQ(counters().calls[RTX_OP_ALLOC], 0u);
    EXPECT_EQ(counters().calls[RTX_OP_INI_READ], 1u);
    EXPECT_EQ(console(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, DiagnosticsQuiet,
    ::testing::Values(
        QuietSetting{"ReleaseZero", "[Eventlog]\r\nLogVXErrorRelease=0\r\n", "<null>"},
        QuietSetting{"ReleaseTwo", "[Eventlog]\r\nLogVXErrorRelease=2\r\n", "fault 9"},
        QuietSetting{"MissingKey", "[Eventlog]\r\nOtherKey=1\r\n[Other]\r\nLogVXErrorRelease=1\r\n",
                     "<null>"},
        QuietSetting{"NoFile", nullptr, "<null>"}),
    [](const auto& info) { return std::string(info.param.name); });
