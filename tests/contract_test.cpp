// Contract checks, the shared format buffer and the developer diagnostics: what each call
// reports, how the format buffer behaves when the executive's semaphore fails or two tasks
// make their first lock together, and the release settings of the diagnostics.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "core_helpers.h"

using core_test::console;
using core_test::counters;

namespace {

class ContractTest : public ::testing::Test {
  protected:
    void SetUp() override {
        core_test::quiet_console();
        mbx_ = core_test::create_error_mbx();
    }
    std::string next() { return core_test::take_report(mbx_); }
    std::uint16_t mbx_ = 0;
};

// Runs steps on the shared format buffer, one letter each: L lock, U unlock, F format "n"
// with the step's running number (each text is collected in brackets), c, t and g: the next
// creation, take or give of the buffer's semaphore fails. Blanks only group the steps.
std::string run(const char* steps) {
    std::string texts;
    int n = 0;
    for (const char* step = steps; *step != '\0'; ++step) {
        if (*step == 'L') EFormatLock();
        if (*step == 'U') EFormatUnlock();
        if (*step == 'F') texts += "[" + std::string(EFormat("n%d", ++n)) + "]";
        if (*step == 'c') rtx_host_fail_next(RTX_OP_SEMA_CREATE, 1, RTX_E_INJECTED);
        if (*step == 't') rtx_host_fail_next(RTX_OP_SEMA_TAKE, 1, RTX_E_INJECTED);
        if (*step == 'g') rtx_host_fail_next(RTX_OP_SEMA_GIVE, 1, RTX_E_INJECTED);
    }
    return texts;
}

// The executive's rtx_createsema, wrapped for the module linked into this test: when armed,
// the next creation waits, after the executive has made (or refused) its semaphore, until the
// test lets it go on, so that another task's first lock can overtake it.
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

// Every check reports error 2 with its text, formatted and cut to the 120 characters a report
// carries, and the place of the check; a passed check reports nothing.
TEST_F(ContractTest, EachCheckReportsErrorTwoWithItsText) {
    _Q_require("src\\dir/pre.c", -3);
    Q_report_error("q.c", 100, "%s", "100% sure");  // the text is not taken as a format
    const std::string huge(5000, 'z');              // far beyond the 256-byte buffer
    Q_report_error("q.c", 2, "%s-%s-%d", huge.c_str(), huge.c_str(), 12345);
    Q_report_error("q.c", 3, nullptr);
    Q_ASSERT(true);
    EXPECT_EQ(next(), "2 -3 pre.c: precondition failed");
    EXPECT_EQ(next(), "2 100 q.c: 100% sure");
    EXPECT_EQ(next(), "2 2 q.c: " + huge.substr(0, 120));
    EXPECT_EQ(next(), "2 3 q.c: ");
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 0u);
    EXPECT_EQ(console(), "");
}

// EFormat writes into one buffer of 200 bytes, and only after a successful lock: a refused
// creation of the semaphore leaves the texts empty and the next lock tries again; a failed
// take or give makes them empty until the next successful lock.
TEST_F(ContractTest, FormatBufferFormatsOnlyAfterASuccessfulLock) {
    char* buffer = EFormat("%d apples", 5);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(run("cLFUF cLF"), "[][][]");
    EFormatLock();
    EXPECT_EQ(EFormat("%d apples and %s", 5, "pears"), buffer);
    EXPECT_STREQ(buffer, "5 apples and pears");
    const std::string huge(1000, 'w');  // held within the 200 bytes
    EXPECT_EQ(std::string(EFormat("%s", huge.c_str())), huge.substr(0, 199));
    EFormatUnlock();
    EXPECT_EQ(run("LFU F tLF LF"), "[n1][n2][][n4]");  // EFormat does not check the lock
    EXPECT_EQ(run("gUF UF LFU"), "[][][n3]");          // the refused give left the unit taken
    EXPECT_EQ(counters().calls[RTX_OP_SEMA_CREATE], 3u);
}

// Two tasks make their first lock together, the late one's creation held until the first one
// holds the buffer. A late creation that succeeded uses the holder's semaphore and waits for
// it; one that failed marks the buffer unusable, the holder's texts empty until its next lock.
class FormatBufferFirstLocks : public ContractTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FormatBufferFirstLocks, LateCreation) {
    const bool fails = GetParam();
    run(fails ? "c" : "");
    g_creation_hold.store(kHoldArmed);
    std::string text;  // what the late task formats, "<locked>" while it is inside
    std::thread late([&text] {
        EFormatLock();
        text = "<locked>";
        text = EFormat("%s", "late");
        EFormatUnlock();
    });
    while (g_creation_hold.load() != kHoldWaiting) std::this_thread::yield();
    EXPECT_EQ(run("LF"), "[n1]");  // creates the semaphore that both use, and takes it
    g_creation_hold.store(kHoldOff);
    if (fails) late.join();
    for (int i = 0; i < 1000; ++i) std::this_thread::yield();
    EXPECT_EQ(text, "");
    EXPECT_EQ(run("FU LFU"), fails ? "[][n2]" : "[n1][n2]");
    if (!fails) late.join();
    EXPECT_EQ(text, fails ? "" : "late");
    EXPECT_EQ(counters().calls[RTX_OP_SEMA_CREATE], 2u);
}

INSTANTIATE_TEST_SUITE_P(CreationFails, FormatBufferFirstLocks, ::testing::Bool());

// ---- Developer diagnostics -----------------------------------------------------------------

// The boot configuration TARNBOOT.INI with text (no file when null), in a folder of this
// process that goes when the process ends.
void boot_file(const char* text) {
    static const struct Folder {
        std::string path = "/tmp/err_diag_" + std::to_string(getpid());
        Folder() {
            mkdir(path.c_str(), 0700);
            std::remove((path + "/TARNBOOT.INI").c_str());  // left by an ended process of this id
            rtx_host_set_ini_dir(path.c_str());
        }
        ~Folder() { std::remove((path + "/TARNBOOT.INI").c_str()), rmdir(path.c_str()); }
    } folder;
    if (text != nullptr) std::ofstream(folder.path + "/TARNBOOT.INI", std::ios::binary) << text;
}

// The release setting of the boot file decides: 1 ("  +1xyz": blanks, sign, digits, rest)
// formats texts, cut to 1023 characters, and reports them, or the fixed text for none, with the
// caller's place; 0, a missing key or file format and report nothing; 2 formats, reports
// nothing. Every text is released. The setting is read once, at the first format call.
struct Setting {
    const char* name;
    const char* boot_file;  // null: none
    bool formats;
    std::string reports;  // each report and a line feed
};
void PrintTo(const Setting& s, std::ostream* os) {
    *os << s.name;
}
class Diagnostics : public ContractTest, public ::testing::WithParamInterface<Setting> {};

TEST_P(Diagnostics, ReleaseSetting) {
    boot_file(GetParam().boot_file);
    EXPECT_EQ(_VX_TestShowErrorDialogLogInfo("x.c", 1, nullptr), -1);  // not read yet
    const std::string huge = std::string(1000, 'k') + std::string(500, 'm');
    int line = 0;
    for (const char* format : {"fault %.3s", "%s", ""}) {
        char* text = _VX_formatErrorString(format, huge.c_str());
        boot_file("[Eventlog]\r\nLogVXErrorRelease=1\r\n");  // a later change has no effect
        const std::size_t length = format[0] == 'f' ? 9 : format[0] == '%' ? 1023 : 0;
        EXPECT_EQ(text == nullptr ? 0 : std::strlen(text), GetParam().formats ? length : 0);
        EXPECT_EQ(_VX_TestShowErrorDialogLogInfo("a.c", ++line, text), 0);
    }
    std::string reports;
    while (rtx_host_mailbox_depth(mbx_) != 0) reports += next() + "\n";
    EXPECT_EQ(reports, GetParam().reports);
    EXPECT_EQ(counters().calls[RTX_OP_INI_READ], 1u);
    EXPECT_EQ(console(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, Diagnostics,
    ::testing::Values(
        Setting{
            "ReleaseOne",
            "[ErrorTask]\r\nSystemLogFile=\\S.LOG\r\n[Eventlog]\r\nLogVXErrorRelease=  +1xyz\r\n",
            true,
            "2 1 a.c: fault kkk\n2 2 a.c: " + std::string(120, 'k') +
                "\n2 3 a.c: VX_ERROR-Aufruf ohne Infotext - Review abgelehnt!\n"},
        Setting{"ReleaseZero", "[Eventlog]\r\nLogVXErrorRelease=0\r\n", false, ""},
        Setting{"ReleaseTwo", "[Eventlog]\r\nLogVXErrorRelease=2\r\n", true, ""},
        Setting{"MissingKey", "[Eventlog]\r\nOther=1\r\n[X]\r\nLogVXErrorRelease=1\r\n", false, ""},
        Setting{"NoFile", nullptr, false, ""}),
    [](const auto& info) { return std::string(info.param.name); });
