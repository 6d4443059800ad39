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
#include <utility>
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
using Got = std::pair<uint16_t, uint16_t>;

// Every case starts from a fresh executive.
class RtxHost : public ::testing::Test {
  public:
    void SetUp() override { rtx_host_reset(); }
    // A counted name: the length byte, then the bytes.
    static std::string cname(const char* t) { return std::string(1, char(std::strlen(t))) + t; }
    static uint16_t alloc(uint32_t size, uint16_t* status = nullptr) {
        uint16_t seg = 0;
        const uint16_t result = STATUS(old_rtx_global_alloc(&seg, size, 0, 0, &st, "origin", 7));
        if (status) *status = result;
        return seg;
    }
    static Got receive(uint16_t mbx, uint16_t timeout) {
        uint16_t seg = 0xBEEF;
        const uint16_t status = STATUS(_rtx_getmessage(&seg, mbx, timeout, 0, &st));
        return {seg, status};
    }
    static Got lookup(const std::string& counted_name) {
        uint16_t id = 0xBEEF;
        const uint16_t status = STATUS(rtx_searchcatalog(&id, counted_name.c_str(), 0, &st));
        return {id, status};
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
// sends, and only they, are counted as failed. The mailbox table holds 65535 mailboxes.
// Catalog names compare by their counted bytes, case included.
TEST_F(RtxHost, MailboxesAndCatalog) {
    const uint16_t mbx = rtx_host_create_mailbox(cname("M").c_str());
    ASSERT_EQ(mbx, 1);
    const uint16_t segs[3] = {alloc(4), alloc(4), alloc(4)};
    rtx_status st{};
    for (uint16_t s : segs) EXPECT_EQ(_rtx_sendmessage(mbx, s, 0, &st), 0);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx), 3u);
    EXPECT_EQ(_rtx_sendmessage(mbx, segs[0], 0, &st), RTX_E_BAD_ID);  // queued already
    EXPECT_EQ(STATUS(_rtx_sendmessage(999, alloc(1), 0, &st)), RTX_E_BAD_ID);
    EXPECT_EQ(counters().calls[RTX_OP_SEND], 5u);
    EXPECT_EQ(counters().failed[RTX_OP_SEND], 2u);
    for (uint16_t s : segs) EXPECT_EQ(receive(mbx, 0), Got(s, RTX_OK));
    EXPECT_EQ(receive(mbx, 0), Got(0, RTX_E_TIMEOUT));
    EXPECT_EQ(receive(mbx, 20), Got(0, RTX_E_TIMEOUT));
    EXPECT_EQ(receive(4711, 0).second, RTX_E_BAD_ID);
    // A segment freed while queued leaves its mailbox.
    _rtx_sendmessage(mbx, segs[1], 0, &st);
    _rtx_sendmessage(mbx, segs[2], 0, &st);
    rtx_global_free(segs[1], &st);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx), 1u);
    EXPECT_EQ(receive(mbx, 0), Got(segs[2], RTX_OK));
    EXPECT_EQ(STATUS(rtx_catalog(10, cname("ABC").c_str(), 0, &st)), RTX_OK);
    EXPECT_EQ(STATUS(rtx_catalog(11, cname("AB").c_str(), 0, &st)), RTX_OK);
    EXPECT_EQ(STATUS(rtx_catalog(12, "\2ABZ", 0, &st)), RTX_E_EXISTS);  // only 2 bytes count
    EXPECT_EQ(STATUS(rtx_catalog(13, cname("LONGER_THAN_8").c_str(), 0, &st)), RTX_OK);
    EXPECT_EQ(lookup(cname("ABC")), Got(10, RTX_OK));
    EXPECT_EQ(lookup("\2ABQ"), Got(11, RTX_OK));
    EXPECT_EQ(lookup(cname("LONGER_THAN_8")), Got(13, RTX_OK));
    EXPECT_EQ(lookup(cname("abc")), Got(0, RTX_E_NOT_FOUND));
    EXPECT_EQ(lookup(cname("LONGER_THAN_9")), Got(0, RTX_E_NOT_FOUND));
    EXPECT_EQ(rtx_host_create_mailbox("\tERROR_MBX"), 2);
    EXPECT_EQ(lookup("\tERROR_MBX"), Got(2, RTX_OK));
    EXPECT_EQ(rtx_host_create_mailbox("\tERROR_MBX"), 0);
    uint16_t id = 0;
    for (int n = 3; n < 65535; ++n) rtx_creatembx(&id, 0, nullptr);
    EXPECT_EQ(rtx_host_create_mailbox(cname("LAST").c_str()), 65535);
    EXPECT_EQ(STATUS(rtx_creatembx(&id, 0, &st)), RTX_E_NOMEM);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(rtx_host_create_mailbox(cname("FULL").c_str()), 0);
    EXPECT_EQ(lookup(cname("FULL")), Got(0, RTX_E_NOT_FOUND));  // no name entered
    EXPECT_EQ(STATUS(_rtx_sendmessage(65535, segs[0], 0, &st)), RTX_OK);
}

// A pooled buffer comes back zeroed as far as its size reaches, and no further (the sanitizer
// build sees a write past a buffer of exactly its class's size).
TEST_F(RtxHost, PooledSegmentsComeBackZeroed) {
    for (uint32_t size : {64u, 232u, 256u}) {
        const uint16_t used = alloc(size);
        std::memset(buildptr(used, 0), 0xA5, size);
        EXPECT_EQ(STATUS(rtx_global_free(used, &st)), RTX_OK);
        const auto* p = static_cast<const uint8_t*>(buildptr(alloc(size), 0));
        EXPECT_EQ(std::count(p, p + size, 0), size) << size;
    }
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
    EXPECT_EQ(file + std::to_string(line), "origin7");
    uint16_t ids[3] = {};
    EXPECT_EQ(rtx_host_list_segments(ids, 2), 3u);
    EXPECT_EQ(std::vector<uint16_t>(ids, ids + 3), (std::vector<uint16_t>{a, b, 0}));
    // buildptr gives an address inside the segment or its end, null beyond it.
    EXPECT_EQ(buildptr(a, 16), static_cast<uint8_t*>(buildptr(a, 0)) + 16);
    EXPECT_EQ(buildptr(a, 17), nullptr);
    EXPECT_EQ(buildptr(a, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(STATUS(rtx_global_free(a, &st)), RTX_OK);
    EXPECT_EQ(STATUS(rtx_global_free(a, &st)), RTX_E_BAD_ID);
    EXPECT_EQ(buildptr(a, 0), nullptr);
    EXPECT_EQ(rtx_segment_size(a), 0u);
    EXPECT_NE(alloc(4), 0);
    const rtx_host_counters n = counters();
    EXPECT_EQ(std::tuple(n.segments_in_use, n.segments_peak, n.calls[RTX_OP_ALLOC],
                         n.failed[RTX_OP_ALLOC]),
              std::tuple(3u, 3u, 5u, 1u));
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
        const uint16_t got = receive(reply, 0).first;
        const auto* p = static_cast<const uint8_t*>(buildptr(got, 0));
        const uint8_t tag = size < 10 ? 0 : 0x34, high = size < 10 ? 0 : 0x12;  // a bare header:
        const std::vector<uint8_t> want{0x81, 0x15, 0, 0, 0, 0, 77, 0, tag, high, 0, 0};
        if (answered) {
            EXPECT_EQ(got, delivered ? answer : 0);
            EXPECT_EQ(rtx_segment_size(answer), delivered ? 20u : 0u);  // or freed
        } else if (delivered) {
            EXPECT_EQ(std::vector<uint8_t>(p, p + rtx_segment_size(got)), want);
        }
    }
    int local = 0;  // an address outside every segment
    EXPECT_EQ(STATUS(send_default_response(&local, 5505, &st)), RTX_E_BAD_ID);
}

// Executive paths, whatever they start with, map below the root folder and never leave it
// (a ".." step maps to nothing). The executive's root path never holds the folder. The name
// part of a path follows its last separator.
TEST_F(RtxHost, PathsMapBelowTheRootFolder) {
    // clang-format off
    const char* paths[][3] = {  // root folder, executive path, host path ("": refused)
        {"/r", "\\L\\S.LOG", "/r/L/S.LOG"},      {"/r", "/r\\L\\S.LOG", "/r/r/L/S.LOG"},
        {"/r//", "D:\\L\\A", "/r/L/A"},          {"/r", "\\\\L\\\\A..B", "/r/L/A..B"},
        {"/r", "D:", "/r"},                      {"/", "A.LOG", "/A.LOG"},
        {"./r/", "D:L\\A", "./r/L/A"},           {"a.b/r o", "A", "a.b/r o/A"},
        {"", "\\A.LOG", "./A.LOG"},              {"/r", "..\\etc\\x", ""},
        {"/r", "\\L\\..\\..\\x", ""},            {"/r", "/r/L/../../y", ""},
        {"/r", "L\\..", ""}};
    // clang-format on
    char buf[260];
    for (const auto& [root, exec, host] : paths) {
        rtx_host_set_root(root);
        EXPECT_EQ(rtx_map_path(exec, buf, sizeof buf), *host ? 0 : -1) << exec;
        EXPECT_STREQ(buf, host) << exec;
        rtx_get_root_path(2, buf);
        EXPECT_STREQ(buf, "D:");
    }
    EXPECT_EQ(rtx_map_path("\\A.LOG", buf, 9), 0);  // "/r/A.LOG" fits, and no less
    EXPECT_EQ(rtx_map_path("\\A.LOG", buf, 8), -1);
    const std::string long_root = "D:\\" + std::string(400, 'r'), x = "0123456789abcdef";
    rtx_host_set_root_path(long_root.c_str());
    rtx_get_root_path(2, buf);
    EXPECT_EQ(buf, long_root.substr(0, 259));
    for (const std::string& path :
         {std::string("C:\\TARN\\LOG/SYSERR.LOG"), std::string("D:N"), std::string("N"),
          std::string("DIR\\"), x + x + "/" + x + "X", x + ":" + x + x + "X"}) {
        const char* p = path.c_str();
        EVcut_path(&p);
        EXPECT_EQ(p, path.substr(path.find_last_of("\\/:") + 1)) << path;
    }
}

// A name opened again after the root folder changed is the new root's file, also when another
// name was opened in between (a thread keeps the names it mapped, each with its root folder).
TEST_F(RtxHost, NamesMapBelowTheCurrentRootFolder) {
    const std::string a = temp_dir(), b = temp_dir();
    const auto write = [](const char* name, const std::string& text) {
        rtx_file* f = rtx_file_open(name, "wb");
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(rtx_file_write(f, text.data(), text.size()), text.size());
        rtx_file_close(f);
    };
    rtx_host_set_root(a.c_str());
    write("\\R.TXT", "a");
    rtx_host_set_root(b.c_str());
    write("\\OTHER.TXT", "");
    write("\\R.TXT", "bb");
    EXPECT_EQ(std::filesystem::file_size(a + "/R.TXT"), 1u);
    EXPECT_EQ(std::filesystem::file_size(b + "/R.TXT"), 2u);
}

// File calls work on files below the root folder; a directory is no file; null arguments and
// names that would leave the root folder are refused. Spellings of one file: the case counts,
// ".." names no file, a name in a missing folder is compared as a name. INI files: sections
// and keys in any case, values trimmed, the first of two values kept; found by the file's name
// part in the INI folder, whatever the case of the file's name; a directory is none.
TEST_F(RtxHost, FilesAndIniFilesBelowTheRootFolder) {
    const std::string root = temp_dir(), other = temp_dir();
    rtx_host_set_root(root.c_str());
    for (const char* dir : {"/LOG", "/LOG/D.LOG", "/TARNBOOT.INI"})
        ASSERT_EQ(mkdir((root + dir).c_str(), 0755), 0);
    for (const char* mode : {"rb", "r+b", "wb", "ab"})
        EXPECT_EQ(rtx_file_open("\\LOG\\D.LOG", mode), nullptr) << mode;
    EXPECT_NE(rtx_file_remove("\\LOG\\D.LOG"), 0);
    EXPECT_NE(rtx_file_rename("\\LOG\\D.LOG", "\\LOG\\D.BAK"), 0);
    EXPECT_TRUE(std::filesystem::is_directory(root + "/LOG/D.LOG"));
    uint16_t h = 0;
    EXPECT_EQ(ini_file_read(&h, "TARNBOOT.INI"), RTX_E_NOT_FOUND);
    EXPECT_EQ(rtx_file_open(nullptr, "rb"), nullptr);
    EXPECT_EQ(rtx_file_open("\\LOG\\A.LOG", nullptr), nullptr);
    EXPECT_EQ(rtx_file_tell(nullptr), -1);
    EXPECT_EQ(rtx_file_open("\\LOG\\..\\..\\escaped.txt", "wb"), nullptr);
    EXPECT_EQ(rtx_file_rename("\\A.LOG", "..\\A.LOG"), -1);
    std::ofstream(root + "/LOG/A.LOG") << "a";
    EXPECT_EQ(rtx_file_same("\\LOG\\A.LOG", "\\LOG\\a.log"), 0);
    EXPECT_EQ(rtx_file_same("\\LOG\\..\\LOG\\A.LOG", "\\LOG\\A.LOG"), 0);
    EXPECT_EQ(rtx_file_same("\\X\\A.BAK", "X\\A.BAK"), 1);
    EXPECT_EQ(rtx_file_same("\\X\\A.BAK", "\\Y\\A.BAK"), 0);
    EXPECT_EQ(rtx_file_same("\\LOG\\N.BAK", "\\LOG\\.\\N.BAK"), 1);  // neither exists
    std::ofstream(other + "/tarnboot.ini") << "[ErrorTask]\r\nSystemLogFile=\\LOG\\S.LOG\r\n"
                                              "UserLogFile = U.LOG\r\nUserLogFile=SECOND\r\n";
    rtx_host_set_ini_dir(other.c_str());
    char* text = nullptr;
    ASSERT_EQ(ini_file_read(&h, "C:\\TARN\\TARNBOOT.INI"), 0);
    ASSERT_EQ(ini_file_get(h, "ERRORTASK", "systemlogfile", &text), 0);
    EXPECT_STREQ(text, "\\LOG\\S.LOG");
    ASSERT_EQ(ini_file_get(h, "errortask", "UserLogFile", &text), 0);
    EXPECT_STREQ(text, "U.LOG");
    EXPECT_EQ(ini_file_get(h, "ErrorTask", "Missing", &text), 1);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(ini_file_get(h, "Missing", "UserLogFile", &text), 1);
    ini_file_free(h);
    EXPECT_EQ(ini_file_get(h, "ErrorTask", "SystemLogFile", &text), -1);
}

// A power cut ends the process at the armed file-changing call (opens that create or truncate,
// writes, renames, removes; reads and "r+" opens are not counted), before it or after the first
// bytes of a write, and nothing after it reaches the files; the trace numbers every such call.
TEST_F(RtxHost, PowerCutEndsTheProcessAtTheArmedCall) {
    const std::string root = temp_dir();
    rtx_host_set_root(root.c_str());
    // Calls are counted from the process's start: earlier tests made some.
    const uint64_t base = rtx_host_file_changes();
    auto work = [base](uint64_t cut_at, int64_t torn) {
        rtx_host_power_cut(base + cut_at, torn);
        rtx_file* f = rtx_file_open("A.LOG", "wb");  // call 1
        rtx_file_write(f, "0123456789", 10);         // 2
        rtx_file_close(f);
        f = rtx_file_open("A.LOG", "r+b");  // not counted
        rtx_file_seek(f, 2, SEEK_SET);
        rtx_file_write(f, "abcdef", 6);  // 3
        rtx_file_close(f);
        rtx_file_rename("A.LOG", "B.LOG");  // 4
        rtx_file_remove("B.LOG");           // 5
        std::_Exit(0);
    };
    auto file = [&](const char* name) {
        std::ifstream in(root + "/" + name, std::ios::binary);
        return in ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string("(none)");
    };
    using ::testing::ExitedWithCode;
    EXPECT_EXIT(work(3, 4), ExitedWithCode(RTX_HOST_POWER_CUT_EXIT), "");
    EXPECT_EQ(file("A.LOG"), "01abcd6789");  // torn: 4 of the 6 bytes
    EXPECT_EXIT(work(3, -1), ExitedWithCode(RTX_HOST_POWER_CUT_EXIT), "");
    EXPECT_EQ(file("A.LOG"), "0123456789");
    EXPECT_EXIT(work(1, -1), ExitedWithCode(RTX_HOST_POWER_CUT_EXIT), "");
    EXPECT_EQ(file("A.LOG"), "0123456789");  // not truncated
    EXPECT_EXIT(work(5, 3), ExitedWithCode(RTX_HOST_POWER_CUT_EXIT), "");
    EXPECT_EQ(file("B.LOG"), "01abcdef89");  // renamed, not removed
    EXPECT_EXIT(work(6, -1), ExitedWithCode(0), "");
    EXPECT_EQ(file("B.LOG"), "(none)");

    const std::string trace = root + "/trace";
    EXPECT_EXIT(
        {
            rtx_host_power_trace(trace.c_str());
            work(4, -1);
        },
        ExitedWithCode(RTX_HOST_POWER_CUT_EXIT), "");
    const std::string t = file("trace");
    auto n = [base](int k) { return std::to_string(base + k); };
    EXPECT_EQ(t, n(1) + " truncate 0 0 " + root + "/A.LOG\n" + n(2) + " write 0 10 " + root +
                     "/A.LOG\n0123456789" + n(3) + " write 2 6 " + root + "/A.LOG\nabcdef" + n(4) +
                     " rename 0 0 " + root + "/A.LOG -> " + root + "/B.LOG\n");
    // Counted also when neither a cut nor a trace is on.
    EXPECT_EXIT(
        {
            const uint64_t before = rtx_host_file_changes();
            rtx_file* f = rtx_file_open("C.LOG", "wb");
            rtx_file_write(f, "c", 1);
            rtx_file_close(f);
            rtx_file_close(rtx_file_open("C.LOG", "rb"));
            std::_Exit(static_cast<int>(rtx_host_file_changes() - before));
        },
        ExitedWithCode(2), "");
}

// Two names compared keep their answer whatever the calling thread mapped before: with the
// first name anywhere in the thread's remembered names (or pushed out of them), the second
// one's mapping never takes its place.
TEST_F(RtxHost, SameFileWhateverTheThreadMappedBefore) {
    const std::string root = temp_dir();
    rtx_host_set_root(root.c_str());
    ASSERT_EQ(mkdir((root + "/LOG").c_str(), 0755), 0);
    std::ofstream(root + "/A.ARC") << "a";
    std::ofstream(root + "/LOG/SYSERR.LOG") << "s";
    for (int others = 0; others <= 20; ++others) {
        std::thread fresh([others] {  // a thread that has mapped nothing yet
            rtx_file_close(rtx_file_open("\\A.ARC", "rb"));
            for (int k = 0; k < others; ++k) {
                const std::string name = "\\N" + std::to_string(k) + ".TXT";
                EXPECT_EQ(rtx_file_open(name.c_str(), "rb"), nullptr);
            }
            EXPECT_EQ(rtx_file_same("\\A.ARC", "\\LOG\\SYSERR.LOG"), 0) << others;
            EXPECT_EQ(rtx_file_same("\\LOG\\SYSERR.LOG", "\\A.ARC"), 0) << others;
            EXPECT_EQ(rtx_file_same("\\A.ARC", "A.ARC"), 1) << others;
        });
        fresh.join();
    }
}

// An injected fault lets `skip` calls pass, fails the next `count` with its status, and
// leaves everything else as it was; count 0 and clearing disarm it. A receiver already
// blocked on a mailbox (counted as its waiter) has passed its fault check.
TEST_F(RtxHost, FaultInjectionSkipsThenFails) {
    rtx_host_fail(RTX_OP_ALLOC, 1, 2, 0x55);
    uint16_t got[4];
    for (uint16_t& g : got) alloc(4, &g);
    EXPECT_EQ(std::vector<uint16_t>(got, got + 4), (std::vector<uint16_t>{0, 0x55, 0x55, 0}));
    EXPECT_EQ(counters().failed[RTX_OP_ALLOC], 2u);
    EXPECT_EQ(counters().segments_in_use, 2u);
    const uint16_t mbx = rtx_host_create_mailbox(cname("M").c_str()), seg = alloc(4);
    rtx_host_fail_next(RTX_OP_LOOKUP, 1, 0);  // status 0 stands for RTX_E_INJECTED
    EXPECT_EQ(lookup(cname("M")), Got(0, RTX_E_INJECTED));
    EXPECT_EQ(lookup(cname("M")), Got(mbx, RTX_OK));
    rtx_host_fail_next(RTX_OP_SEND, 1, 0x77);
    EXPECT_EQ(STATUS(_rtx_sendmessage(mbx, seg, 0, &st)), 0x77);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx), 0u);
    EXPECT_EQ(counters().failed[RTX_OP_SEND], 1u);
    rtx_host_fail(RTX_OP_SEND, 0, 5, 1);
    rtx_host_fail(RTX_OP_SEND, 0, 0, 1);  // count 0 clears
    Got waited{};
    std::thread receiver([&] { waited = receive(mbx, RTX_WAIT_FOREVER); });
    while (rtx_host_mailbox_waiters(mbx) == 0) std::this_thread::yield();
    rtx_host_fail_next(RTX_OP_RECEIVE, 1, 0x78);
    EXPECT_EQ(STATUS(_rtx_sendmessage(mbx, seg, 0, &st)), RTX_OK);  // still the sender's
    receiver.join();
    EXPECT_EQ(waited, Got(seg, RTX_OK));
    EXPECT_EQ(rtx_host_mailbox_waiters(mbx), 0u);
    EXPECT_EQ(receive(mbx, 0), Got(0, 0x78));
    rtx_host_fail_next(RTX_OP_ALLOC, 3, 1);
    rtx_host_clear_faults();
    EXPECT_NE(alloc(4), 0);
}

// Semaphores: an initial count cut to the maximum, timeouts, a full count and bad ids.
TEST_F(RtxHost, SemaphoresCountAndTimeOut) {
    uint16_t sema = 0;
    ASSERT_EQ(STATUS(rtx_createsema(&sema, 5, 2, 0, &st)), RTX_OK);
    for (int want : {RTX_OK, RTX_OK, RTX_E_TIMEOUT})
        EXPECT_EQ(STATUS(rtx_getsema(sema, 0, &st)), want);
    EXPECT_EQ(STATUS(rtx_getsema(sema, 10, &st)), RTX_E_TIMEOUT);
    for (int want : {RTX_OK, RTX_OK, RTX_HOST_E_SEMA_FULL})
        EXPECT_EQ(STATUS(rtx_sendsema(sema, &st)), want);
    EXPECT_EQ(STATUS(rtx_getsema(999, 0, &st)), RTX_E_BAD_ID);
    EXPECT_EQ(STATUS(rtx_sendsema(0, &st)), RTX_E_BAD_ID);
}

namespace {
std::atomic<int> g_stage{0};
uint16_t g_out = 0, g_in = 0, g_sema = 0;
std::vector<int> g_inits;

// The status of the creation of a task (which the call's result agrees with).
uint16_t create_task(void (*start)(void), const char* name) {
    rtx_task_descriptor d{};
    d.start = start;
    rtx_status st{0xFFFF};
    const uint8_t created = ini_create_task(&d, name, 1000, &st);
    EXPECT_EQ(created, st.status == RTX_OK);
    return st.status;
}
}  // namespace

// Tasks start, suspend and resume; shutdown ends every blocked task without returning into
// its body; reset gives a fresh executive. A task that shuts down ends at its next wait: a
// reset, refused while it runs, is done once it has ended. Init functions run at the start.
TEST_F(RtxHost, TasksSuspendResumeEndAtShutdownAndStart) {
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
    ASSERT_EQ(create_task(suspending, "\nERROR_TASK"), RTX_OK);
    EXPECT_EQ(create_task(suspending, "\nERROR_TASK"), RTX_E_EXISTS);
    while (!rtx_host_task_suspended("\nERROR_TASK")) usleep(1000);
    EXPECT_EQ(g_stage.load(), 0);
    EXPECT_EQ(rtx_host_resume_task("\nERROR_TASK"), 0);
    EXPECT_EQ(receive(g_out, RTX_WAIT_FOREVER).second, RTX_OK);
    EXPECT_EQ(g_stage.load(), 1);
    EXPECT_EQ(rtx_host_resume_task("\nERROR_TASK"), -1);  // not suspended
    EXPECT_EQ(rtx_host_resume_task("\5OTHER"), -1);
    EXPECT_EQ(rtx_host_resume_task(nullptr), -1);
    EXPECT_EQ(STATUS(rtx_suspendtask(0, &st)), RTX_E_BAD_ID);  // the test's thread is no task
    ASSERT_EQ(create_task([] { rtx_suspendtask(0, nullptr), g_stage = 3; }, "\1S"), RTX_OK);
    ASSERT_EQ(create_task([] { rtx_getsema(g_sema, -1, nullptr), g_stage = 4; }, "\1W"), RTX_OK);
    while (!rtx_host_task_suspended("\1S") || !rtx_host_mailbox_waiters(g_in)) usleep(1000);
    std::thread outsider([] { EXPECT_EQ(receive(g_in, RTX_WAIT_FOREVER).second, RTX_E_SHUTDOWN); });
    rtx_host_shutdown();  // returns only when every task thread has ended
    outsider.join();
    EXPECT_EQ(g_stage.load(), 1);  // no blocked call returned into a task body
    rtx_host_shutdown();
    EXPECT_EQ(receive(g_in, RTX_WAIT_FOREVER).second, RTX_E_SHUTDOWN);
    EXPECT_EQ(STATUS(rtx_getsema(g_sema, -1, &st)), RTX_E_SHUTDOWN);
    EXPECT_EQ(create_task(suspending, "\1L"), RTX_E_SHUTDOWN);
    rtx_host_set_root("/tmp");
    rtx_host_reset();
    EXPECT_EQ(lookup("\nERROR_TASK"), Got(0, RTX_E_NOT_FOUND));
    EXPECT_EQ(alloc(2), 1);
    EXPECT_STREQ(rtx_host_root(), ".");
    rtx_createsema(&g_sema, 0, 1, 0, nullptr);
    const auto ender = [] { rtx_host_shutdown(), rtx_getsema(g_sema, -1, nullptr), g_stage = 5; };
    ASSERT_EQ(create_task(ender, "\1E"), RTX_OK);
    for (int tries = 0; tries < 5000 && lookup("\1E").second == RTX_OK; ++tries) {
        usleep(1000);
        rtx_host_reset();
    }
    EXPECT_EQ(lookup("\1E").second, RTX_E_NOT_FOUND);
    EXPECT_EQ(g_stage.load(), 1);
    // Init functions run once each, in registration order, at the system start.
    EXPECT_EQ(register_init_function([] { g_inits.push_back(1); }, "one"), 0);
    EXPECT_EQ(register_init_function([] { g_inits.push_back(2); }, "two"), 0);
    rtx_host_system_start();
    register_init_function([] { g_inits.push_back(3); }, "three");
    rtx_host_system_start();
    rtx_host_system_start();
    EXPECT_EQ(g_inits, (std::vector<int>{1, 2, 3}));
}
