// Host executive: mailboxes, segments, responses, catalog, INI files, paths and file guards,
// faults and counters, semaphores, tasks and shutdown, init functions.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "rtx/rtx_host.h"

// The status a call leaves in its rtx_status, which the call names st.
#define STATUS(call)           \
    ([&] {                     \
        rtx_status st{0xFFFF}; \
        call;                  \
        return st.status;      \
    }())

// An id (of a segment, a catalog entry) and the status of the call that gave it.
struct Got {
    uint16_t id = 0xBEEF, status = 0xFFFF;
    bool operator==(const Got&) const = default;
};

// Every case starts from a fresh executive.
class RtxHost : public ::testing::Test {
  public:
    void SetUp() override { rtx_host_reset(); }
    // A counted name: the length byte, then the bytes.
    static std::string cname(const char* t) { return std::string(1, char(std::strlen(t))) + t; }
    static uint16_t alloc(uint32_t size, uint16_t* status = nullptr) {
        Got g;
        g.status = STATUS(old_rtx_global_alloc(&g.id, size, 0, 0, &st, "rtx_host_test", 7));
        if (status) *status = g.status;
        return g.id;
    }
    static Got receive(uint16_t mbx, uint16_t timeout) {
        Got g;
        g.status = STATUS(_rtx_getmessage(&g.id, mbx, timeout, 0, &st));
        return g;
    }
    static Got lookup(const std::string& counted_name) {
        Got g;
        g.status = STATUS(rtx_searchcatalog(&g.id, counted_name.c_str(), 0, &st));
        return g;
    }
    static rtx_host_counters counters() {
        rtx_host_counters c{};
        rtx_host_get_counters(&c);
        return c;
    }
    static std::string temp_dir() {
        char tmpl[] = "/tmp/rtx_host_test.XXXXXX";
        return mkdtemp(tmpl) ? tmpl : "/nonexistent";
    }
};

// Mailboxes hand segments out first in, first out; a poll or a limited wait times out; failed
// sends, and only they, are counted as failed.
TEST_F(RtxHost, MailboxesAreFifoAndPollOrTimeOut) {
    const uint16_t mbx = rtx_host_create_mailbox(cname("M").c_str());
    ASSERT_NE(mbx, 0);
    const uint16_t segs[3] = {alloc(4), alloc(4), alloc(4)};
    rtx_status st{};
    for (uint16_t s : segs) EXPECT_EQ(_rtx_sendmessage(mbx, s, 0, &st), 0);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx), 3u);
    EXPECT_EQ(_rtx_sendmessage(mbx, segs[0], 0, &st), RTX_E_BAD_ID);  // queued already
    EXPECT_EQ(STATUS(_rtx_sendmessage(999, alloc(1), 0, &st)), RTX_E_BAD_ID);
    EXPECT_EQ(counters().calls[RTX_OP_SEND], 5u);
    EXPECT_EQ(counters().failed[RTX_OP_SEND], 2u);

    for (uint16_t s : segs) EXPECT_EQ(receive(mbx, 0), (Got{s, RTX_OK}));
    EXPECT_EQ(receive(mbx, 0), (Got{0, RTX_E_TIMEOUT}));
    EXPECT_EQ(receive(mbx, 20), (Got{0, RTX_E_TIMEOUT}));
    EXPECT_EQ(receive(4711, 0).status, RTX_E_BAD_ID);
    // A segment freed while queued leaves its mailbox.
    _rtx_sendmessage(mbx, segs[1], 0, &st);
    _rtx_sendmessage(mbx, segs[2], 0, &st);
    rtx_global_free(segs[1], &st);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx), 1u);
    EXPECT_EQ(receive(mbx, 0), (Got{segs[2], RTX_OK}));
}

// The mailbox table holds 65535 mailboxes; one more is refused and enters no name.
TEST_F(RtxHost, MailboxTableIsBounded) {
    uint16_t id = 0;
    for (int n = 1; n < 65535; ++n) rtx_creatembx(&id, 0, nullptr);
    const uint16_t last = rtx_host_create_mailbox(cname("LAST").c_str());
    EXPECT_EQ(last, 65535);
    EXPECT_EQ(STATUS(rtx_creatembx(&id, 0, &st)), RTX_E_NOMEM);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(rtx_host_create_mailbox(cname("FULL").c_str()), 0);
    EXPECT_EQ(lookup(cname("FULL")), (Got{0, RTX_E_NOT_FOUND}));
    EXPECT_EQ(STATUS(_rtx_sendmessage(last, alloc(1), 0, &st)), RTX_OK);
}

// A receiver blocked on a mailbox is counted as its waiter; it has passed the fault check of
// its call, so a receive fault armed now hits the next call, not the one already waiting.
TEST_F(RtxHost, BlockedReceiversAreCountedAndMissLaterFaults) {
    const uint16_t mbx = rtx_host_create_mailbox(cname("W").c_str());
    Got got{};
    std::thread receiver([&] { got = receive(mbx, RTX_WAIT_FOREVER); });
    while (rtx_host_mailbox_waiters(mbx) == 0) std::this_thread::yield();
    rtx_host_fail_next(RTX_OP_RECEIVE, 1, 0x0042);
    const uint16_t seg = alloc(4);
    EXPECT_EQ(STATUS(_rtx_sendmessage(mbx, seg, 0, &st)), RTX_OK);
    receiver.join();
    EXPECT_EQ(got, (Got{seg, RTX_OK}));
    EXPECT_EQ(rtx_host_mailbox_waiters(mbx), 0u);
    EXPECT_EQ(receive(mbx, 0), (Got{0, 0x0042}));
}

// The segment pool has a limit; new segments are zeroed; ids, origins and bounds are checked.
TEST_F(RtxHost, SegmentsAreBoundedZeroedAndChecked) {
    rtx_host_set_segment_limit(3);
    const uint16_t a = alloc(16), b = alloc(100000), c = alloc(0);
    EXPECT_TRUE(a && b && c && a != b && b != c && a != c);
    uint16_t status = 0;
    alloc(4, &status);
    EXPECT_EQ(status, RTX_E_NOMEM);
    const auto* p = static_cast<const uint8_t*>(buildptr(b, 0));
    EXPECT_EQ(std::count(p, p + 100000, 0), 100000);
    const char* file = nullptr;
    int line = 0;
    EXPECT_EQ(rtx_host_segment_origin(a, &file, &line), 0);
    EXPECT_EQ(file + std::to_string(line), "rtx_host_test7");
    uint16_t ids[3] = {};
    EXPECT_EQ(rtx_host_list_segments(ids, 2), 3u);
    EXPECT_EQ(std::vector<uint16_t>(ids, ids + 3), (std::vector<uint16_t>{a, b, 0}));
    // buildptr gives an address inside the segment or its end, null beyond it.
    EXPECT_EQ(buildptr(a, 16), static_cast<uint8_t*>(buildptr(a, 0)) + 16);
    EXPECT_EQ(buildptr(a, 17), nullptr);
    EXPECT_EQ(buildptr(a, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(rtx_segment_size(a), 16u);
    EXPECT_EQ(STATUS(rtx_global_free(a, &st)), RTX_OK);
    EXPECT_EQ(STATUS(rtx_global_free(a, &st)), RTX_E_BAD_ID);
    EXPECT_EQ(STATUS(rtx_global_free(0, &st)), RTX_E_BAD_ID);
    EXPECT_EQ(buildptr(a, 0), nullptr);
    EXPECT_EQ(rtx_segment_size(a), 0u);
    EXPECT_EQ(rtx_host_segment_origin(a, &file, &line), -1);
    EXPECT_NE(alloc(4), 0);
    const rtx_host_counters n = counters();
    EXPECT_EQ(std::vector<uint64_t>({n.segments_in_use, n.segments_peak, n.calls[RTX_OP_ALLOC],
                                     n.failed[RTX_OP_ALLOC]}),
              (std::vector<uint64_t>{3, 3, 5, 1}));
}

// Answers go where the request header's reply mode and reply mailbox say, at most once. A
// request that ends inside its reply-mailbox field gets none (a given answer is freed); the
// header is read where the given address points; a segment of size 0 has an address too.
TEST_F(RtxHost, ResponsesFollowTheRequestHeader) {
    const uint16_t reply = rtx_host_create_mailbox(cname("REPLY").c_str());
    // Request size, header offset, reply mode, answer given, something delivered.
    const std::tuple<uint32_t, uint32_t, uint8_t, bool, bool> cases[] = {
        {24, 0, 2, true, true},  {24, 0, 2, false, true},  {6, 0, 2, true, true},
        {6, 0, 2, false, true},  {5, 0, 2, true, false},   {5, 0, 2, false, false},
        {24, 0, 0, true, false}, {24, 0, 0, false, false}, {24, 10, 2, false, false},
        {0, 0, 2, false, false}};
    for (const auto& [size, at, mode, answered, delivered] : cases) {
        SCOPED_TRACE(testing::Message() << size << " at " << at << " answer " << answered);
        auto* request = static_cast<uint8_t*>(buildptr(alloc(size), 0));
        const uint8_t header[10] = {77, 0, mode, 0, uint8_t(reply), 0, 0, 0, 0x34, 0x12};
        std::memcpy(request, header, std::min<uint32_t>(size, 10));
        const uint16_t answer = answered ? alloc(20) : 0;
        EXPECT_EQ(answered ? STATUS(send_response(request + at, answer, &st)) : 0, RTX_OK);
        for (int twice = 0; twice < 2; ++twice)
            EXPECT_EQ(STATUS(send_default_response(request + at, 5505, &st)), RTX_OK);
        EXPECT_EQ(rtx_host_mailbox_depth(reply), delivered ? 1u : 0u);
        const uint16_t got = receive(reply, 0).id;
        const auto* p = static_cast<const uint8_t*>(buildptr(got, 0));
        std::vector<uint8_t> want{0x81, 0x15, 0,    0,    0, 0,
                                  77,   0,    0x34, 0x12, 0, 0};  // a bare header
        if (size < 10) want[8] = want[9] = 0;
        if (answered) {
            EXPECT_EQ(got, delivered ? answer : 0);
            EXPECT_EQ(rtx_segment_size(answer), delivered ? 20u : 0u);  // or freed
        } else if (delivered) {
            EXPECT_EQ(std::vector<uint8_t>(p, p + rtx_segment_size(got)), want);
        }
    }
    int local = 0;  // an address outside every segment
    const uint16_t answer = alloc(4);
    EXPECT_EQ(STATUS(send_default_response(&local, 5505, &st)), RTX_E_BAD_ID);
    EXPECT_EQ(STATUS(send_response(&local, answer, &st)), RTX_E_BAD_ID);
    EXPECT_EQ(rtx_segment_size(answer), 0u);
}

// Catalog names compare by their counted bytes, case included.
TEST_F(RtxHost, CatalogComparesCountedNamesByBytes) {
    const std::tuple<uint16_t, std::string, uint16_t> entries[] = {
        {10, cname("ABC"), RTX_OK},
        {11, cname("AB"), RTX_OK},
        {12, "\2ABZ", RTX_E_EXISTS},
        {13, cname("LONGER_THAN_8"), RTX_OK}};
    for (const auto& [id, name, status] : entries)
        EXPECT_EQ(STATUS(rtx_catalog(id, name.c_str(), 0, &st)), status) << id;
    const std::tuple<std::string, Got> lookups[] = {{cname("ABC"), {10, RTX_OK}},
                                                    {"\2ABQ", {11, RTX_OK}},
                                                    {cname("LONGER_THAN_8"), {13, RTX_OK}},
                                                    {cname("abc"), {0, RTX_E_NOT_FOUND}},
                                                    {cname("LONGER_THAN_9"), {0, RTX_E_NOT_FOUND}}};
    for (const auto& [name, want] : lookups) EXPECT_EQ(lookup(name), want) << name;
    const uint16_t mbx = rtx_host_create_mailbox("\tERROR_MBX");
    EXPECT_EQ(lookup("\tERROR_MBX"), (Got{mbx, RTX_OK}));
    EXPECT_EQ(rtx_host_create_mailbox("\tERROR_MBX"), 0);
}

// INI files: sections and keys in any case, values trimmed, the first of two values kept;
// found by the file's name part in the INI folder, whatever the case of the file's name.
TEST_F(RtxHost, IniFilesByFolderSectionAndKey) {
    const std::string root = temp_dir(), other = temp_dir();
    std::ofstream(root + "/TARNBOOT.INI") << "[ErrorTask]\r\nSystemLogFile=\\LOG\\S.LOG\r\n"
                                             "UserLogFile = U.LOG\r\nUserLogFile=SECOND\r\n";
    std::ofstream(other + "/tarnboot.ini") << "[ErrorTask]\nSystemLogFile=OTHER\n";
    rtx_host_set_root(root.c_str());
    uint16_t h = 0;
    ASSERT_EQ(ini_file_read(&h, "TARNBOOT.INI"), 0);
    const std::tuple<const char*, const char*, int, const char*> keys[] = {
        {"ERRORTASK", "systemlogfile", 0, "\\LOG\\S.LOG"},
        {"errortask", "UserLogFile", 0, "U.LOG"},
        {"ErrorTask", "Missing", 1, nullptr},
        {"Missing", "UserLogFile", 1, nullptr}};
    char* text = nullptr;
    for (const auto& [section, key, result, value] : keys) {
        EXPECT_EQ(ini_file_get(h, section, key, &text), result) << key;
        EXPECT_STREQ(text, value) << key;
    }
    ini_file_free(h);
    EXPECT_EQ(ini_file_get(h, "ErrorTask", "SystemLogFile", &text), -1);
    EXPECT_EQ(ini_file_read(&h, "NOSUCH.INI"), RTX_E_NOT_FOUND);
    rtx_host_set_ini_dir(other.c_str());
    ASSERT_EQ(ini_file_read(&h, "C:\\TARN\\TARNBOOT.INI"), 0);
    ASSERT_EQ(ini_file_get(h, "ErrorTask", "SystemLogFile", &text), 0);
    EXPECT_STREQ(text, "OTHER");
}

// Executive paths, whatever they start with, map below the root folder and never leave it
// (a ".." step maps to nothing). The executive's root path never holds the folder.
TEST_F(RtxHost, PathsMapBelowTheRootFolder) {
    const char* paths[][3] = {{"/r", "\\LOG\\SYS.LOG", "/r/LOG/SYS.LOG"},
                              {"/r", "/r\\LOG\\SYS.LOG", "/r/r/LOG/SYS.LOG"},
                              {"/r//", "D:\\LOG\\A.LOG", "/r/LOG/A.LOG"},
                              {"/r", "\\\\LOG\\\\A..B.LOG", "/r/LOG/A..B.LOG"},
                              {"/r", "D:", "/r"},
                              {"/", "A.LOG", "/A.LOG"},
                              {"./errsim-root/", "D:LOG\\A.LOG", "./errsim-root/LOG/A.LOG"},
                              {"a.b/r o.ot", "A.LOG", "a.b/r o.ot/A.LOG"},
                              {"", "\\A.LOG", "./A.LOG"},
                              {"/r", "..\\etc\\passwd", ""},
                              {"/r", "\\LOG\\..\\..\\x", ""},
                              {"/r", "/r/LOG/../../y", ""},
                              {"/r", "LOG\\..", ""}};
    char buf[260];
    for (const auto& p : paths) {
        rtx_host_set_root(p[0]);
        EXPECT_EQ(rtx_map_path(p[1], buf, sizeof buf), *p[2] ? 0 : -1) << p[1];
        EXPECT_STREQ(buf, p[2]) << p[1];
        rtx_get_root_path(2, buf);
        EXPECT_STREQ(buf, "D:");
    }
    EXPECT_EQ(rtx_map_path("\\A.LOG", buf, 9), 0);  // "/r/A.LOG" fits, and no less
    EXPECT_EQ(rtx_map_path("\\A.LOG", buf, 8), -1);
    const std::string long_root = "D:\\" + std::string(400, 'r');
    rtx_host_set_root_path(long_root.c_str());
    rtx_get_root_path(2, buf);
    EXPECT_EQ(buf, long_root.substr(0, 259));

    // The name part follows the last separator, however long the path.
    const std::string x16 = "0123456789abcdef";
    for (const std::string path :
         {"C:\\TARN\\LOG/SYSERR.LOG", "D:NAME", "NAME", "DIR\\",
          (x16 + x16 + "/" + x16 + "X").c_str(), (x16 + ":" + x16 + x16 + "X").c_str()}) {
        const char* p = path.c_str();
        EVcut_path(&p);
        EXPECT_EQ(p, path.substr(path.find_last_of("\\/:") + 1)) << path;
    }
}

// File calls work on files below the root folder; a directory is no file; null arguments and
// names that would leave the root folder are refused.
TEST_F(RtxHost, FilesBelowTheRootFolder) {
    const std::string root = temp_dir();
    rtx_host_set_root(root.c_str());
    for (const char* dir : {"/LOG", "/LOG/D.LOG", "/TARNBOOT.INI"})
        ASSERT_EQ(mkdir((root + dir).c_str(), 0755), 0);
    for (const char* mode : {"rb", "r+b", "wb", "ab"})
        EXPECT_EQ(rtx_file_open("\\LOG\\D.LOG", mode), nullptr) << mode;
    EXPECT_NE(rtx_file_remove("\\LOG\\D.LOG"), 0);
    EXPECT_NE(rtx_file_rename("\\LOG\\D.LOG", "\\LOG\\D.BAK"), 0);
    EXPECT_TRUE(std::filesystem::is_directory(root + "/LOG/D.LOG"));
    uint16_t ini = 0;
    EXPECT_NE(ini_file_read(&ini, "TARNBOOT.INI"), 0);
    EXPECT_EQ(rtx_file_open(nullptr, "rb"), nullptr);
    EXPECT_EQ(rtx_file_open("\\LOG\\A.LOG", nullptr), nullptr);
    EXPECT_EQ(rtx_file_tell(nullptr), -1);
    EXPECT_EQ(rtx_file_open("\\LOG\\..\\..\\escaped.txt", "wb"), nullptr);
    EXPECT_EQ(rtx_file_rename("\\A.LOG", "..\\A.LOG"), -1);

    // Spellings of one file, existing or not; ".." maps to nothing and names no file.
    std::ofstream(root + "/LOG/A.LOG") << "a";
    const std::tuple<const char*, const char*, int> names[] = {
        {"\\LOG\\A.LOG", "D:\\LOG\\.\\A.LOG", 1}, {"\\LOG\\A.LOG", "LOG//A.LOG", 1},
        {"\\LOG\\A.BAK", "D:LOG\\.\\A.BAK", 1},   {"\\LOG\\A.BAK", "\\LOG\\A.LOG", 0},
        {"\\LOG\\A.LOG", "\\LOG\\a.log", 0},      {"\\X\\A.BAK", "X\\A.BAK", 1},
        {"\\X\\A.BAK", "\\Y\\A.BAK", 0},          {"\\LOG\\..\\LOG\\A.LOG", "\\LOG\\A.LOG", 0}};
    for (const auto& [a, b, same] : names) EXPECT_EQ(rtx_file_same(a, b), same) << a << " " << b;
}

// An injected fault lets `skip` calls pass, fails the next `count` with its status, and
// leaves everything else as it was; count 0 and clearing disarm it.
TEST_F(RtxHost, FaultInjectionSkipsThenFails) {
    rtx_host_fail(RTX_OP_ALLOC, 1, 2, 0x55);
    uint16_t got[4];
    for (uint16_t& g : got) alloc(4, &g);
    EXPECT_EQ(std::vector<uint16_t>(got, got + 4), (std::vector<uint16_t>{0, 0x55, 0x55, 0}));
    EXPECT_EQ(counters().failed[RTX_OP_ALLOC], 2u);
    EXPECT_EQ(counters().segments_in_use, 2u);

    const uint16_t mbx = rtx_host_create_mailbox(cname("M").c_str()), seg = alloc(4);
    rtx_host_fail_next(RTX_OP_LOOKUP, 1, 0);  // status 0 stands for RTX_E_INJECTED
    EXPECT_EQ(lookup(cname("M")), (Got{0, RTX_E_INJECTED}));
    EXPECT_EQ(lookup(cname("M")), (Got{mbx, RTX_OK}));
    rtx_host_fail_next(RTX_OP_SEND, 1, 0x77);
    EXPECT_EQ(STATUS(_rtx_sendmessage(mbx, seg, 0, &st)), 0x77);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx), 0u);
    EXPECT_EQ(counters().failed[RTX_OP_SEND], 1u);
    rtx_host_fail_next(RTX_OP_RECEIVE, 1, 0x78);
    EXPECT_EQ(STATUS(_rtx_sendmessage(mbx, seg, 0, &st)), RTX_OK);  // still the sender's
    EXPECT_EQ(receive(mbx, RTX_WAIT_FOREVER).status, 0x78);
    EXPECT_EQ(receive(mbx, 0), (Got{seg, RTX_OK}));
    rtx_host_fail(RTX_OP_SEND, 0, 5, 1);
    rtx_host_fail(RTX_OP_SEND, 0, 0, 1);  // count 0 clears
    EXPECT_EQ(STATUS(_rtx_sendmessage(mbx, seg, 0, &st)), RTX_OK);
    rtx_host_fail_next(RTX_OP_ALLOC, 3, 1);
    rtx_host_clear_faults();
    EXPECT_NE(alloc(4), 0);
}

// Semaphores: an initial count cut to the maximum, timeouts, a full count, bad ids and a
// wake-up across threads.
TEST_F(RtxHost, SemaphoresCountAndWake) {
    uint16_t sema = 0, signal = 0;
    ASSERT_EQ(STATUS(rtx_createsema(&sema, 5, 2, 0, &st)), RTX_OK);
    for (int want : {RTX_OK, RTX_OK, RTX_E_TIMEOUT})
        EXPECT_EQ(STATUS(rtx_getsema(sema, 0, &st)), want);
    EXPECT_EQ(STATUS(rtx_getsema(sema, 10, &st)), RTX_E_TIMEOUT);
    for (int want : {RTX_OK, RTX_OK, RTX_HOST_E_SEMA_FULL})
        EXPECT_EQ(STATUS(rtx_sendsema(sema, &st)), want);
    EXPECT_EQ(STATUS(rtx_getsema(999, 0, &st)), RTX_E_BAD_ID);
    EXPECT_EQ(STATUS(rtx_sendsema(0, &st)), RTX_E_BAD_ID);
    rtx_createsema(&signal, 0, 1, 0, nullptr);
    std::thread waiter([&] { EXPECT_EQ(STATUS(rtx_getsema(signal, -1, &st)), RTX_OK); });
    rtx_sendsema(signal, nullptr);
    waiter.join();
}

namespace {
std::atomic<int> g_stage{0};
uint16_t g_out = 0, g_in = 0, g_sema = 0;

bool create_task(void (*start)(void), const std::string& name, uint16_t* status = nullptr) {
    rtx_task_descriptor d{};
    d.start = start;
    rtx_status st{};
    const bool created = ini_create_task(&d, name.c_str(), 1000, &st) == 1;
    if (status) *status = st.status;
    return created;
}
}  // namespace

// Tasks start, suspend and resume; shutdown ends every blocked task without returning into
// its body; reset gives a fresh executive.
TEST_F(RtxHost, TasksSuspendResumeAndEndAtShutdown) {
    g_out = rtx_host_create_mailbox(cname("OUT").c_str());
    g_in = rtx_host_create_mailbox(cname("IN").c_str());
    rtx_createsema(&g_sema, 0, 1, 0, nullptr);
    const auto suspending = [] {  // once resumed, sends to OUT and waits on IN
        rtx_suspendtask(0, nullptr);
        g_stage = 1;
        _rtx_sendmessage(g_out, alloc(4), 0, nullptr);
        receive(g_in, RTX_WAIT_FOREVER);
        g_stage = 2;
    };
    uint16_t status = 0;
    ASSERT_TRUE(create_task(suspending, "\nERROR_TASK", &status));
    EXPECT_EQ(status, RTX_OK);
    EXPECT_FALSE(create_task(suspending, "\nERROR_TASK", &status));
    EXPECT_EQ(status, RTX_E_EXISTS);
    EXPECT_EQ(lookup("\nERROR_TASK").status, RTX_OK);
    while (!rtx_host_task_suspended("\nERROR_TASK")) usleep(1000);
    EXPECT_EQ(g_stage.load(), 0);
    EXPECT_EQ(rtx_host_resume_task("\nERROR_TASK"), 0);
    EXPECT_EQ(receive(g_out, RTX_WAIT_FOREVER).status, RTX_OK);
    EXPECT_EQ(g_stage.load(), 1);
    EXPECT_EQ(rtx_host_resume_task("\nERROR_TASK"), -1);  // not suspended
    EXPECT_EQ(rtx_host_resume_task("\5OTHER"), -1);
    EXPECT_EQ(rtx_host_resume_task(nullptr), -1);
    EXPECT_EQ(rtx_host_task_suspended(nullptr), 0);
    EXPECT_EQ(STATUS(rtx_suspendtask(0, &st)), RTX_E_BAD_ID);  // the test's thread is no task

    ASSERT_TRUE(create_task([] { rtx_suspendtask(0, nullptr), g_stage = 3; }, cname("SLEEPER")));
    ASSERT_TRUE(
        create_task([] { rtx_getsema(g_sema, -1, nullptr), g_stage = 4; }, cname("WAITER")));
    while (!rtx_host_task_suspended(cname("SLEEPER").c_str())) usleep(1000);
    std::thread outsider([] { EXPECT_EQ(receive(g_in, RTX_WAIT_FOREVER).status, RTX_E_SHUTDOWN); });
    rtx_host_shutdown();  // returns only when every task thread has ended
    outsider.join();
    EXPECT_EQ(g_stage.load(), 1);  // no blocked call returned into a task body
    rtx_host_shutdown();
    EXPECT_EQ(receive(g_in, RTX_WAIT_FOREVER).status, RTX_E_SHUTDOWN);
    EXPECT_EQ(STATUS(rtx_getsema(g_sema, -1, &st)), RTX_E_SHUTDOWN);
    EXPECT_FALSE(create_task(suspending, cname("LATE"), &status));
    EXPECT_EQ(status, RTX_E_SHUTDOWN);

    rtx_host_set_root("/tmp");
    rtx_host_reset();
    EXPECT_EQ(lookup("\nERROR_TASK"), (Got{0, RTX_E_NOT_FOUND}));
    EXPECT_EQ(alloc(2), 1);
    EXPECT_STREQ(rtx_host_root(), ".");
}

// A task that shuts the executive down ends at its next wait: a reset, refused while the
// task runs, is done once it has ended.
TEST_F(RtxHost, ATaskShutsDownAndEndsAtItsNextWait) {
    rtx_createsema(&g_sema, 0, 1, 0, nullptr);
    const auto ender = [] { rtx_host_shutdown(), rtx_getsema(g_sema, -1, nullptr), g_stage = 5; };
    ASSERT_TRUE(create_task(ender, cname("ENDER")));
    for (int tries = 0; tries < 5000 && lookup(cname("ENDER")).status == RTX_OK; ++tries) {
        usleep(1000);
        rtx_host_reset();
    }
    EXPECT_EQ(lookup(cname("ENDER")).status, RTX_E_NOT_FOUND);
    EXPECT_EQ(g_stage.load(), 0);
}

std::vector<int> g_inits;

// Init functions run once each, in registration order, at the system start.
TEST_F(RtxHost, InitFunctionsRunOnceInOrder) {
    EXPECT_EQ(register_init_function([] { g_inits.push_back(1); }, "one"), 0);
    EXPECT_EQ(register_init_function([] { g_inits.push_back(2); }, "two"), 0);
    EXPECT_NE(register_init_function(nullptr, "none"), 0);
    rtx_host_system_start();
    register_init_function([] { g_inits.push_back(3); }, "three");
    rtx_host_system_start();
    rtx_host_system_start();
    EXPECT_EQ(g_inits, (std::vector<int>{1, 2, 3}));
}
