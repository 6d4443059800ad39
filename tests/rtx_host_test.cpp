// Host executive: messages, segments, responses, catalog, INI files, paths, files, faults,
// semaphores, tasks, shutdown and the boot console.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core_helpers.h"
#include "rtx/rtx_host.h"

using core_test::counters;

namespace {

// A catalog name: a count byte, then the bytes (only the first count of them are the name).
std::string counted(int count, const char* bytes) {
    return std::string(1, static_cast<char>(count)) + bytes;
}

std::string cname(const char* text) {
    return counted(static_cast<int>(std::strlen(text)), text);
}

uint16_t alloc(uint32_t size, uint16_t* status_out = nullptr) {
    uint16_t seg = 0;
    rtx_status st{0xFFFF};
    old_rtx_global_alloc(&seg, size, 0, 0, &st, "rtx_host_test", __LINE__);
    if (status_out) *status_out = st.status;
    return seg;
}

uint16_t alloc_status() {
    uint16_t status = 0;
    alloc(4, &status);
    return status;
}

// What a receive hands out: the segment (0 when none) and the status.
struct Received {
    uint16_t segment, status;
    bool operator==(const Received&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Received& r) {
    return out << "segment " << r.segment << ", status " << r.status;
}

Received receive(uint16_t mbx, uint16_t timeout) {
    Received r{0xBEEF, 0xFFFF};
    rtx_status st{0xFFFF};
    _rtx_getmessage(&r.segment, mbx, timeout, 0, &st);
    r.status = st.status;
    return r;
}

// The status a call leaves in its rtx_status, which the call names st:
// EXPECT_EQ(STATUS(rtx_getsema(sema, 0, &st)), RTX_E_TIMEOUT).
#define STATUS(call)           \
    ([&] {                     \
        rtx_status st{0xFFFF}; \
        call;                  \
        return st.status;      \
    }())

// The id entered under name (0 when the lookup fails).
uint16_t lookup(const std::string& name) {
    uint16_t id = 0xBEEF;
    STATUS(rtx_searchcatalog(&id, name.c_str(), 0, &st));
    return id;
}

uint16_t u16(uint16_t seg, uint32_t off) {
    auto* p = static_cast<const uint8_t*>(buildptr(seg, off));
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void put16(uint16_t seg, uint32_t off, uint16_t v) {
    auto* p = static_cast<uint8_t*>(buildptr(seg, off));
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

std::string temp_dir() {
    char tmpl[] = "/tmp/rtx_host_test.XXXXXX";
    const char* d = mkdtemp(tmpl);
    EXPECT_NE(d, nullptr);
    return d ? d : "/tmp";
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The host path of an executive path, or "<refused R>" with the mapping's result.
std::string mapped(const std::string& exec, size_t size = 512) {
    std::vector<char> buf(size);
    const int result = rtx_map_path(exec.c_str(), buf.data(), size);
    return result == 0 ? buf.data() : "<refused " + std::to_string(result) + ">";
}

int format(char* buf, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int n = VSPRINTF(buf, fmt, args);
    va_end(args);
    return n;
}

// Every case starts from a fresh executive: the module under test registers its init
// function when the test binary loads it.
class RtxHost : public ::testing::Test {
  protected:
    void SetUp() override { rtx_host_reset(); }
};

void wait_suspended(const std::string& name) {
    while (!rtx_host_task_suspended(name.c_str())) usleep(1000);
}

}  // namespace

// Mailboxes hand segments out first in, first out; a poll or a limited wait times out.
TEST_F(RtxHost, MailboxesAreFifoAndPollOrTimeOut) {
    const uint16_t mbx = rtx_host_create_mailbox(cname("M").c_str());
    ASSERT_NE(mbx, 0);
    uint16_t segs[3] = {alloc(4), alloc(4), alloc(4)};
    rtx_status st{};
    for (uint16_t s : segs) EXPECT_EQ(_rtx_sendmessage(mbx, s, 0, &st), 0);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx), 3u);
    // A segment already queued cannot be queued a second time.
    EXPECT_EQ(_rtx_sendmessage(mbx, segs[0], 0, &st), RTX_E_BAD_ID);
    EXPECT_EQ(_rtx_sendmessage(999, alloc(1), 0, &st), RTX_E_BAD_ID);
    EXPECT_EQ(st.status, RTX_E_BAD_ID);

    for (uint16_t s : segs) EXPECT_EQ(receive(mbx, 0), (Received{s, RTX_OK}));
    EXPECT_EQ(receive(mbx, 0), (Received{0, RTX_E_TIMEOUT}));
    EXPECT_EQ(receive(mbx, 20), (Received{0, RTX_E_TIMEOUT}));
    EXPECT_EQ(receive(4711, 0).status, RTX_E_BAD_ID);

    // A segment freed while queued leaves its mailbox.
    EXPECT_EQ(_rtx_sendmessage(mbx, segs[1], 0, &st), 0);
    EXPECT_EQ(_rtx_sendmessage(mbx, segs[2], 0, &st), 0);
    rtx_global_free(segs[1], &st);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx), 1u);
    EXPECT_EQ(receive(mbx, 0), (Received{segs[2], RTX_OK}));
}

// Many senders, one blocked receiver: each sender's messages arrive in the order sent.
TEST_F(RtxHost, BlockingReceiveAcrossThreads) {
    const uint16_t mbx = rtx_host_create_mailbox(cname("M").c_str());
    constexpr int kSenders = 8, kEach = 200;
    std::vector<std::thread> senders;
    for (int t = 0; t < kSenders; ++t)
        senders.emplace_back([mbx, t] {
            for (int i = 0; i < kEach; ++i) {
                uint16_t seg = alloc(4);
                put16(seg, 0, static_cast<uint16_t>(t));
                put16(seg, 2, static_cast<uint16_t>(i));
                STATUS(_rtx_sendmessage(mbx, seg, 0, &st));
            }
        });
    std::vector<int> next(kSenders, 0);
    int bad = 0;
    for (int n = 0; n < kSenders * kEach; ++n) {
        const Received got = receive(mbx, RTX_WAIT_FOREVER);
        ASSERT_EQ(got.status, RTX_OK);
        if (u16(got.segment, 2) != next[u16(got.segment, 0)]++) ++bad;
        STATUS(rtx_global_free(got.segment, &st));
    }
    for (auto& th : senders) th.join();
    EXPECT_EQ(bad, 0);
    const rtx_host_counters c = counters();
    EXPECT_EQ(c.calls[RTX_OP_ALLOC], uint64_t{kSenders * kEach});
    EXPECT_EQ(c.calls[RTX_OP_SEND], uint64_t{kSenders * kEach});
    EXPECT_EQ(c.segments_in_use, 0u);
}

// A receiver blocked on a mailbox is counted as its waiter; it has passed the fault check of
// its call, so a receive fault armed now hits the next call, not the one already waiting.
TEST_F(RtxHost, BlockedReceiversAreCountedAndMissLaterFaults) {
    const uint16_t mbx = rtx_host_create_mailbox(cname("W").c_str());
    EXPECT_EQ(rtx_host_mailbox_waiters(mbx), 0u);
    Received got{};
    std::thread receiver([&] { got = receive(mbx, RTX_WAIT_FOREVER); });
    while (rtx_host_mailbox_waiters(mbx) == 0) std::this_thread::yield();
    rtx_host_fail_next(RTX_OP_RECEIVE, 1, 0x0042);
    const uint16_t seg = alloc(4);
    EXPECT_EQ(STATUS(_rtx_sendmessage(mbx, seg, 0, &st)), RTX_OK);
    receiver.join();
    EXPECT_EQ(got, (Received{seg, RTX_OK}));
    EXPECT_EQ(rtx_host_mailbox_waiters(mbx), 0u);
    EXPECT_EQ(receive(mbx, 0), (Received{0, 0x0042}));
    EXPECT_EQ(rtx_host_mailbox_waiters(0), 0u);  // no such mailbox
    STATUS(rtx_global_free(seg, &st));
}

// The segment pool has a limit; new segments are zeroed; ids and origins are tracked.
TEST_F(RtxHost, SegmentPoolIsBoundedAndIdsAreChecked) {
    rtx_host_set_segment_limit(3);
    const uint16_t a = alloc(8), b = alloc(100000), c = alloc(0);
    EXPECT_NE(a, 0);
    EXPECT_NE(b, 0);
    EXPECT_NE(c, 0);
    EXPECT_TRUE(a != b && b != c && a != c);
    EXPECT_EQ(alloc_status(), RTX_E_NOMEM);

    auto* p = static_cast<const uint8_t*>(buildptr(b, 0));
    EXPECT_EQ(std::count(p, p + 100000, 0), 100000);  // zeroed

    const char* file = nullptr;
    int line = 0;
    EXPECT_EQ(rtx_host_segment_origin(a, &file, &line), 0);
    EXPECT_STREQ(file, "rtx_host_test");
    EXPECT_GT(line, 0);
    uint16_t ids[8];
    EXPECT_EQ(rtx_host_list_segments(ids, 8), 3u);

    EXPECT_EQ(STATUS(rtx_global_free(a, &st)), RTX_OK);
    EXPECT_EQ(STATUS(rtx_global_free(a, &st)), RTX_E_BAD_ID);
    EXPECT_EQ(STATUS(rtx_global_free(0, &st)), RTX_E_BAD_ID);
    EXPECT_EQ(alloc_status(), RTX_OK);

    const rtx_host_counters cnt = counters();
    EXPECT_EQ(cnt.segments_in_use, 3u);
    EXPECT_EQ(cnt.segments_peak, 3u);
    EXPECT_EQ(cnt.calls[RTX_OP_ALLOC], 5u);
    EXPECT_EQ(cnt.failed[RTX_OP_ALLOC], 1u);
}

// buildptr gives an address inside the segment (or its end), null beyond it.
TEST_F(RtxHost, BuildptrStaysInsideTheSegment) {
    const uint16_t seg = alloc(16);
    auto* base = static_cast<uint8_t*>(buildptr(seg, 0));
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(buildptr(seg, 15), base + 15);
    EXPECT_EQ(buildptr(seg, 16), base + 16);
    EXPECT_EQ(buildptr(seg, 17), nullptr);
    EXPECT_EQ(buildptr(seg, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(buildptr(0, 0), nullptr);
    EXPECT_EQ(buildptr(static_cast<uint16_t>(seg + 1), 0), nullptr);
    EXPECT_EQ(rtx_segment_size(seg), 16u);
    EXPECT_EQ(rtx_segment_size(static_cast<uint16_t>(seg + 1)), 0u);
}

// Answers go where the request header's reply mode and reply mailbox say, at most once.
TEST_F(RtxHost, ResponsesFollowTheRequestHeader) {
    const uint16_t reply = rtx_host_create_mailbox(cname("REPLY").c_str());
    auto request = [&](uint16_t mode, uint32_t size = 24) {
        uint16_t seg = alloc(size);
        put16(seg, 0, 77);  // sender_id
        if (size >= 4) put16(seg, 2, mode);
        if (size >= 6) put16(seg, 4, reply);
        if (size >= 10) put16(seg, 8, 0x1234);  // replied_tag
        return seg;
    };
    rtx_status st{};

    // reply_mode 2, answered: the answer goes to reply_mbx and no default answer follows.
    uint16_t req = request(2);
    uint16_t answer = alloc(20);
    EXPECT_EQ(STATUS(send_response(buildptr(req, 0), answer, &st)), RTX_OK);
    EXPECT_EQ(STATUS(send_default_response(buildptr(req, 0), 5505, &st)), RTX_OK);
    EXPECT_EQ(rtx_host_mailbox_depth(reply), 1u);
    EXPECT_EQ(receive(reply, 0), (Received{answer, RTX_OK}));

    // reply_mode 2, not answered: the default answer is a bare header.
    req = request(2);
    // The header is read where the given address points: here its reply_mode is 0.
    EXPECT_EQ(STATUS(send_default_response(buildptr(req, 10), 5505, &st)), RTX_OK);
    EXPECT_EQ(rtx_host_mailbox_depth(reply), 0u);
    EXPECT_EQ(STATUS(send_default_response(buildptr(req, 0), 5505, &st)), RTX_OK);
    const Received got = receive(reply, 0);
    ASSERT_EQ(got.status, RTX_OK);
    const uint16_t def = got.segment;
    ASSERT_EQ(rtx_segment_size(def), 12u);
    const uint16_t want[6] = {5505, 0, 0, 77, 0x1234, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(u16(def, 2 * i), want[i]) << "field " << i;
    send_default_response(buildptr(req, 0), 5505, &st);  // only once
    EXPECT_EQ(rtx_host_mailbox_depth(reply), 0u);

    // reply_mode 0: the answer is freed and no default answer is sent.
    const uint64_t before = counters().segments_in_use;
    req = request(0);
    answer = alloc(20);
    send_response(buildptr(req, 0), answer, &st);
    EXPECT_EQ(rtx_segment_size(answer), 0u);
    send_default_response(buildptr(req, 0), 5505, &st);
    EXPECT_EQ(rtx_host_mailbox_depth(reply), 0u);
    EXPECT_EQ(counters().segments_in_use, before + 1);

    // A request too short to name its reply mailbox gets no answer; nothing is read past it.
    req = request(2, 4);
    send_default_response(buildptr(req, 0), 5505, &st);
    answer = alloc(4);
    send_response(buildptr(req, 0), answer, &st);
    EXPECT_EQ(rtx_host_mailbox_depth(reply), 0u);
    EXPECT_EQ(rtx_segment_size(answer), 0u);

    // An address outside every segment.
    int local = 0;
    EXPECT_EQ(STATUS(send_default_response(&local, 5505, &st)), RTX_E_BAD_ID);
}

// Catalog names compare by their counted bytes, case included.
TEST_F(RtxHost, CatalogComparesCountedNamesByBytes) {
    EXPECT_EQ(STATUS(rtx_catalog(10, cname("ABC").c_str(), 0, &st)), RTX_OK);
    EXPECT_EQ(STATUS(rtx_catalog(11, cname("AB").c_str(), 0, &st)), RTX_OK);
    // Only the counted bytes are the name.
    EXPECT_EQ(STATUS(rtx_catalog(12, counted(2, "ABZ").c_str(), 0, &st)), RTX_E_EXISTS);
    EXPECT_EQ(lookup(cname("ABC")), 10);
    EXPECT_EQ(lookup(counted(2, "ABQ")), 11);
    uint16_t id = 0xBEEF;
    EXPECT_EQ(STATUS(rtx_searchcatalog(&id, cname("abc").c_str(), 0, &st)), RTX_E_NOT_FOUND);
    EXPECT_EQ(id, 0);
    const uint16_t mbx = rtx_host_create_mailbox("\tERROR_MBX");
    EXPECT_EQ(lookup("\tERROR_MBX"), mbx);
    EXPECT_EQ(rtx_host_create_mailbox("\tERROR_MBX"), 0);
}

// INI files: sections and keys in any case, values trimmed, looked up by the file's name part.
TEST_F(RtxHost, IniFilesByFolderSectionAndKey) {
    const std::string root = temp_dir(), other = temp_dir();
    write_file(root + "/TARNBOOT.INI",
               "[ErrorTask]\r\nSystemLogFile=\\LOG\\SYS.LOG\r\nUserLogFile = U.LOG\r\n"
               "[Eventlog]\nLogVXErrorRelease=1\n");
    write_file(other + "/tarnboot.ini", "[ErrorTask]\nSystemLogFile=OTHER\n");
    rtx_host_set_root(root.c_str());

    uint16_t h = 0;
    char* text = nullptr;
    ASSERT_EQ(ini_file_read(&h, "TARNBOOT.INI"), 0);
    EXPECT_NE(h, 0);
    ASSERT_EQ(ini_file_get(h, "ERRORTASK", "systemlogfile", &text), 0);
    EXPECT_STREQ(text, "\\LOG\\SYS.LOG");
    ASSERT_EQ(ini_file_get(h, "errortask", "UserLogFile", &text), 0);
    EXPECT_STREQ(text, "U.LOG");
    ASSERT_EQ(ini_file_get(h, "Eventlog", "LogVXErrorRelease", &text), 0);
    EXPECT_STREQ(text, "1");
    EXPECT_NE(ini_file_get(h, "ErrorTask", "Missing", &text), 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_NE(ini_file_get(h, "Missing", "SystemLogFile", &text), 0);
    ini_file_free(h);
    EXPECT_NE(ini_file_get(h, "ErrorTask", "SystemLogFile", &text), 0);

    EXPECT_NE(ini_file_read(&h, "NOSUCH.INI"), 0);
    // The INI folder is looked in by the file's name part; case of the name does not matter.
    rtx_host_set_ini_dir(other.c_str());
    ASSERT_EQ(ini_file_read(&h, "C:\\TARN\\TARNBOOT.INI"), 0);
    ASSERT_EQ(ini_file_get(h, "ErrorTask", "SystemLogFile", &text), 0);
    EXPECT_STREQ(text, "OTHER");
}

// Executive paths, whatever they start with, map below the root folder; no path leaves it.
TEST_F(RtxHost, PathMapping) {
    rtx_host_set_root("/tmp/x");
    EXPECT_EQ(mapped("\\LOG\\SYSERR.LOG"), "/tmp/x/LOG/SYSERR.LOG");
    EXPECT_EQ(mapped("/tmp/x\\LOG\\SYSERR.LOG"), "/tmp/x/tmp/x/LOG/SYSERR.LOG");
    EXPECT_EQ(mapped("/tmp/xy/A.LOG"), "/tmp/x/tmp/xy/A.LOG");
    EXPECT_EQ(mapped("D:\\LOG\\A.LOG"), "/tmp/x/LOG/A.LOG");
    EXPECT_EQ(mapped("A.LOG"), "/tmp/x/A.LOG");
    EXPECT_EQ(mapped("\\\\LOG\\\\A.LOG"), "/tmp/x/LOG/A.LOG");
    EXPECT_EQ(mapped("\\LOG\\SYSERR.LOG", 8), "<refused -1>");
    // No name leaves the root folder through a ".." step; ".." inside a name is harmless.
    EXPECT_EQ(mapped("..\\etc\\passwd"), "<refused -1>");
    EXPECT_EQ(mapped("\\LOG\\..\\..\\x"), "<refused -1>");
    EXPECT_EQ(mapped("/tmp/x/LOG/../../y"), "<refused -1>");
    EXPECT_EQ(rtx_file_open("\\LOG\\..\\..\\escaped.txt", "wb"), nullptr);
    EXPECT_EQ(rtx_file_rename("\\A.LOG", "..\\A.LOG"), -1);
    EXPECT_EQ(mapped("\\LOG\\A..B.LOG"), "/tmp/x/LOG/A..B.LOG");

    // The executive's root path never holds the folder: the default log path maps below any.
    for (const std::string folder : {"./errsim-root/", "a.b/r o.ot", "."}) {
        rtx_host_set_root(folder.c_str());
        char root[260];
        rtx_get_root_path(2, root);
        EXPECT_STREQ(root, "D:");
        const std::string log = folder.back() == '/' ? folder + "LOG" : folder + "/LOG";
        EXPECT_EQ(mapped(std::string(root) + "\\LOG\\SYSERR.LOG"), log + "/SYSERR.LOG");
        EXPECT_EQ(mapped("LOG\\SYSERR.BAK"), log + "/SYSERR.BAK");
    }
    const std::string long_root = "D:\\" + std::string(400, 'r');
    rtx_host_set_root_path(long_root.c_str());
    char root[260];
    rtx_get_root_path(2, root);
    EXPECT_EQ(std::string(root), long_root.substr(0, 259));
    rtx_host_reset();
    rtx_get_root_path(2, root);
    EXPECT_STREQ(root, "D:");

    const char* p = "C:\\TARN\\LOG/SYSERR.LOG";
    EVcut_path(&p);
    EXPECT_STREQ(p, "SYSERR.LOG");
    p = "D:NAME";
    EVcut_path(&p);
    EXPECT_STREQ(p, "NAME");
}

// Files opened, written, read, renamed and removed through executive paths.
TEST_F(RtxHost, FilesThroughExecutivePaths) {
    const std::string root = temp_dir();
    rtx_host_set_root(root.c_str());
    ASSERT_EQ(mkdir((root + "/LOG").c_str(), 0755), 0);
    rtx_file* f = rtx_file_open("\\LOG\\A.LOG", "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(rtx_file_write(f, "12\r\n34\r\n", 8), 8u);
    EXPECT_EQ(rtx_file_seek(f, 2, SEEK_SET), 0);
    EXPECT_EQ(rtx_file_tell(f), 2);
    EXPECT_EQ(rtx_file_close(f), 0);
    EXPECT_EQ(read_file(root + "/LOG/A.LOG"), "12\r\n34\r\n");

    EXPECT_EQ(rtx_file_rename("\\LOG\\A.LOG", "\\LOG\\A.BAK"), 0);
    f = rtx_file_open("D:\\LOG\\A.BAK", "rb");
    ASSERT_NE(f, nullptr);
    char buf[16] = {};
    EXPECT_EQ(rtx_file_read(f, buf, sizeof buf), 8u);  // short at the end of the file
    EXPECT_STREQ(buf, "12\r\n34\r\n");
    rtx_file_close(f);
    EXPECT_EQ(rtx_file_remove("\\LOG\\A.BAK"), 0);
    EXPECT_EQ(rtx_file_open("\\LOG\\A.BAK", "rb"), nullptr);
    EXPECT_NE(rtx_file_remove("\\LOG\\A.BAK"), 0);

    // A directory is no file: refused in every mode, not removed, not renamed, not read as an
    // INI file.
    ASSERT_EQ(mkdir((root + "/LOG/D.LOG").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/TARNBOOT.INI").c_str(), 0755), 0);
    for (const char* mode : {"rb", "r+b", "wb", "ab"}) {
        EXPECT_EQ(rtx_file_open("\\LOG\\D.LOG", mode), nullptr) << mode;
    }
    EXPECT_NE(rtx_file_remove("\\LOG\\D.LOG"), 0);
    EXPECT_NE(rtx_file_rename("\\LOG\\D.LOG", "\\LOG\\D.BAK"), 0);
    EXPECT_TRUE(std::filesystem::is_directory(root + "/LOG/D.LOG"));
    uint16_t ini = 0;
    EXPECT_NE(ini_file_read(&ini, "TARNBOOT.INI"), 0);

    // Spellings of one file, existing or not; ".." maps to nothing and names no file.
    write_file(root + "/LOG/A.LOG", "a");
    const struct {
        const char* a;
        const char* b;
        int same;
    } names[] = {
        {"\\LOG\\A.LOG", "D:\\LOG\\.\\A.LOG", 1}, {"\\LOG\\A.LOG", "LOG//A.LOG", 1},
        {"\\LOG\\A.BAK", "D:LOG\\.\\A.BAK", 1},   {"\\LOG\\A.BAK", "\\LOG\\A.LOG", 0},
        {"\\LOG\\A.LOG", "\\LOG\\a.log", 0},      {"\\X\\A.BAK", "X\\A.BAK", 1},
        {"\\X\\A.BAK", "\\Y\\A.BAK", 0},          {"\\LOG\\..\\LOG\\A.LOG", "\\LOG\\A.LOG", 0},
    };
    for (const auto& n : names) EXPECT_EQ(rtx_file_same(n.a, n.b), n.same) << n.a << " " << n.b;

    // A name opened before is opened again below the root folder of the moment.
    const std::string other = temp_dir();
    rtx_host_set_root(other.c_str());
    EXPECT_EQ(rtx_file_open("\\LOG\\A.LOG", "rb"), nullptr);
    ASSERT_EQ(mkdir((other + "/LOG").c_str(), 0755), 0);
    write_file(other + "/LOG/A.LOG", "other");
    f = rtx_file_open("\\LOG\\A.LOG", "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(rtx_file_read(f, buf, sizeof buf), 5u);
    rtx_file_close(f);
    EXPECT_EQ(std::string(buf, 5), "other");
}

// An injected fault lets `skip` calls pass, fails the next `count` with its status (file
// calls as the C library would), and leaves everything else as it was.
TEST_F(RtxHost, FaultInjectionSkipsThenFails) {
    rtx_status st{};
    rtx_host_fail(RTX_OP_ALLOC, 1, 2, 0x55);
    EXPECT_EQ(alloc_status(), RTX_OK);
    EXPECT_EQ(alloc_status(), 0x55);
    EXPECT_EQ(alloc_status(), 0x55);
    EXPECT_EQ(alloc_status(), RTX_OK);
    rtx_host_counters c = counters();
    EXPECT_EQ(c.calls[RTX_OP_ALLOC], 4u);
    EXPECT_EQ(c.failed[RTX_OP_ALLOC], 2u);
    EXPECT_EQ(c.segments_in_use, 2u);

    const uint16_t mbx = rtx_host_create_mailbox(cname("M").c_str());
    rtx_host_fail_next(RTX_OP_LOOKUP, 1, 0);  // status 0 stands for RTX_E_INJECTED
    uint16_t id = 0;
    EXPECT_EQ(STATUS(rtx_searchcatalog(&id, cname("M").c_str(), 0, &st)), RTX_E_INJECTED);
    EXPECT_EQ(lookup(cname("M")), mbx);

    const uint16_t seg = alloc(4);
    rtx_host_fail_next(RTX_OP_SEND, 1, 0x77);
    EXPECT_EQ(_rtx_sendmessage(mbx, seg, 0, &st), 0x77);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx), 0u);
    EXPECT_EQ(rtx_segment_size(seg), 4u);  // still the sender's
    rtx_host_fail_next(RTX_OP_RECEIVE, 1, 0x78);
    EXPECT_EQ(_rtx_sendmessage(mbx, seg, 0, &st), 0);
    EXPECT_EQ(receive(mbx, RTX_WAIT_FOREVER).status, 0x78);
    EXPECT_EQ(receive(mbx, 0), (Received{seg, RTX_OK}));

    rtx_host_fail(RTX_OP_SEND, 0, 5, 1);
    rtx_host_fail(RTX_OP_SEND, 0, 0, 1);  // count 0 clears
    EXPECT_EQ(_rtx_sendmessage(mbx, seg, 0, &st), 0);

    const std::string root = temp_dir();
    rtx_host_set_root(root.c_str());
    rtx_host_fail_next(RTX_OP_FILE_OPEN, 1, 1);
    EXPECT_EQ(rtx_file_open("\\F.LOG", "wb"), nullptr);
    rtx_file* f = rtx_file_open("\\F.LOG", "w+b");
    ASSERT_NE(f, nullptr);
    rtx_host_fail(RTX_OP_FILE_WRITE, 1, 1, 1);
    EXPECT_EQ(rtx_file_write(f, "ab", 2), 2u);
    EXPECT_EQ(rtx_file_write(f, "cd", 2), 0u);
    EXPECT_EQ(rtx_file_write(f, "ef", 2), 2u);
    rtx_host_fail_next(RTX_OP_FILE_SEEK, 1, 1);
    EXPECT_EQ(rtx_file_seek(f, 0, SEEK_SET), -1);
    EXPECT_EQ(rtx_file_seek(f, 0, SEEK_SET), 0);
    char buf[4] = {};
    rtx_host_fail_next(RTX_OP_FILE_READ, 1, 1);
    EXPECT_EQ(rtx_file_read(f, buf, 4), 0u);
    EXPECT_EQ(rtx_file_read(f, buf, 4), 4u);
    EXPECT_EQ(std::string(buf, 4), "abef");
    rtx_file_close(f);
    rtx_host_fail_next(RTX_OP_FILE_RENAME, 1, 1);
    EXPECT_EQ(rtx_file_rename("\\F.LOG", "\\G.LOG"), -1);
    EXPECT_EQ(read_file(root + "/F.LOG"), "abef");

    rtx_host_fail_next(RTX_OP_INI_READ, 1, 0x42);
    uint16_t h = 0;
    EXPECT_EQ(ini_file_read(&h, "ANY.INI"), 0x42);
    rtx_host_fail_next(RTX_OP_SEMA_CREATE, 1, 0x43);
    EXPECT_EQ(STATUS(rtx_createsema(&h, 1, 1, 0, &st)), 0x43);
    rtx_host_fail_next(RTX_OP_TASK_CREATE, 1, 0x44);
    rtx_task_descriptor d{};
    d.start = +[] {};
    EXPECT_EQ(ini_create_task(&d, cname("T").c_str(), 1000, &st), 0);
    EXPECT_EQ(st.status, 0x44);

    rtx_host_fail_next(RTX_OP_ALLOC, 3, 1);
    rtx_host_clear_faults();
    EXPECT_EQ(alloc_status(), RTX_OK);
    c = counters();
    EXPECT_EQ(c.failed[RTX_OP_FILE_WRITE], 1u);
    EXPECT_EQ(c.calls[RTX_OP_FILE_WRITE], 3u);
    EXPECT_EQ(c.failed[RTX_OP_FILE_RENAME], 1u);
}

// Semaphores: timeouts, a full count, bad ids, mutual exclusion and a wake-up across threads.
TEST_F(RtxHost, SemaphoresBetweenThreads) {
    rtx_status st{};
    uint16_t lock = 0, signal = 0;
    ASSERT_EQ(STATUS(rtx_createsema(&lock, 1, 1, 0, &st)), RTX_OK);
    rtx_createsema(&signal, 0, 1, 0, &st);
    EXPECT_EQ(STATUS(rtx_getsema(signal, 0, &st)), RTX_E_TIMEOUT);
    EXPECT_EQ(STATUS(rtx_getsema(signal, 10, &st)), RTX_E_TIMEOUT);
    EXPECT_EQ(STATUS(rtx_sendsema(lock, &st)), RTX_HOST_E_SEMA_FULL);
    EXPECT_EQ(STATUS(rtx_getsema(999, 0, &st)), RTX_E_BAD_ID);

    long shared = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                STATUS(rtx_getsema(lock, -1, &st));
                long v = shared;
                shared = v + 1;
                STATUS(rtx_sendsema(lock, &st));
            }
        });
    std::thread waiter([&] { EXPECT_EQ(STATUS(rtx_getsema(signal, -1, &st)), RTX_OK); });
    rtx_sendsema(signal, &st);
    waiter.join();
    for (auto& th : threads) th.join();
    EXPECT_EQ(shared, 8000);
}

namespace {
std::atomic<int> g_stage{0};
uint16_t g_out = 0, g_in = 0, g_sema = 0;

void suspending_task() {
    rtx_status st{};
    rtx_suspendtask(0, &st);
    g_stage = 1;
    uint16_t seg = 0;
    old_rtx_global_alloc(&seg, 4, 0, 0, &st, "task", 1);
    _rtx_sendmessage(g_out, seg, 0, &st);
    _rtx_getmessage(&seg, g_in, RTX_WAIT_FOREVER, 0, &st);  // ends at shutdown
    g_stage = 2;
}

void suspended_task() {
    STATUS(rtx_suspendtask(0, &st));
    g_stage = 3;
}

void sema_task() {
    STATUS(rtx_getsema(g_sema, -1, &st));
    g_stage = 4;
}

std::vector<int> g_inits;
template <int N>
void record_init() {
    g_inits.push_back(N);
}
}  // namespace

// Tasks start, suspend and resume; shutdown ends every blocked task without returning into
// its body; reset gives a fresh executive.
TEST_F(RtxHost, TasksSuspendResumeAndEndAtShutdown) {
    g_out = rtx_host_create_mailbox(cname("OUT").c_str());
    g_in = rtx_host_create_mailbox(cname("IN").c_str());
    rtx_status st{};
    rtx_createsema(&g_sema, 0, 1, 0, &st);
    rtx_task_descriptor d{};
    d.type = 130;
    d.stack_size = 10000;
    d.start = suspending_task;
    ASSERT_EQ(ini_create_task(&d, "\nERROR_TASK", 1000, &st), 1);
    EXPECT_EQ(st.status, RTX_OK);
    EXPECT_EQ(ini_create_task(&d, "\nERROR_TASK", 1000, &st), 0);
    EXPECT_EQ(st.status, RTX_E_EXISTS);
    EXPECT_NE(lookup("\nERROR_TASK"), 0);

    wait_suspended("\nERROR_TASK");
    EXPECT_EQ(g_stage.load(), 0);
    EXPECT_EQ(rtx_host_resume_task("\nERROR_TASK"), 0);
    EXPECT_EQ(receive(g_out, RTX_WAIT_FOREVER).status, RTX_OK);
    EXPECT_EQ(g_stage.load(), 1);
    EXPECT_EQ(rtx_host_resume_task("\nERROR_TASK"), -1);       // not suspended
    EXPECT_EQ(STATUS(rtx_suspendtask(0, &st)), RTX_E_BAD_ID);  // the test's thread is no task

    d.start = suspended_task;
    ASSERT_EQ(ini_create_task(&d, cname("SLEEPER").c_str(), 1000, &st), 1);
    d.start = sema_task;
    ASSERT_EQ(ini_create_task(&d, cname("WAITER").c_str(), 1000, &st), 1);
    wait_suspended(cname("SLEEPER"));

    std::thread outsider([] { EXPECT_EQ(receive(g_in, RTX_WAIT_FOREVER).status, RTX_E_SHUTDOWN); });
    rtx_host_shutdown();  // returns only when every task thread has ended
    outsider.join();
    EXPECT_EQ(g_stage.load(), 1);  // no blocked call returned into a task body
    rtx_host_shutdown();
    EXPECT_EQ(receive(g_in, RTX_WAIT_FOREVER).status, RTX_E_SHUTDOWN);
    EXPECT_EQ(STATUS(rtx_getsema(g_sema, -1, &st)), RTX_E_SHUTDOWN);
    EXPECT_EQ(ini_create_task(&d, cname("LATE").c_str(), 1000, &st), 0);

    // A fresh executive after reset.
    rtx_host_reset();
    uint16_t id = 0;
    EXPECT_EQ(STATUS(rtx_searchcatalog(&id, "\nERROR_TASK", 0, &st)), RTX_E_NOT_FOUND);
    const uint16_t mbx = rtx_host_create_mailbox(cname("M").c_str());
    EXPECT_EQ(_rtx_sendmessage(mbx, alloc(2), 0, &st), 0);
    EXPECT_EQ(receive(mbx, RTX_WAIT_FOREVER), (Received{1, RTX_OK}));
    EXPECT_STREQ(rtx_host_root(), ".");
}

// Init functions run once each, in registration order, at the system start.
TEST_F(RtxHost, InitFunctionsRunOnceInOrder) {
    EXPECT_EQ(register_init_function(record_init<1>, "one"), 0);
    EXPECT_EQ(register_init_function(record_init<2>, "two"), 0);
    EXPECT_NE(register_init_function(nullptr, "none"), 0);
    rtx_host_system_start();
    rtx_host_system_start();
    EXPECT_EQ(g_inits, (std::vector<int>{1, 2}));
    register_init_function(record_init<3>, "three");
    rtx_host_system_start();
    EXPECT_EQ(g_inits, (std::vector<int>{1, 2, 3}));
}

// The boot console is captured whole (any length, any thread) and passed to a sink.
TEST_F(RtxHost, ConsoleCaptureAndSink) {
    rtx_host_console_echo(0);
    std::string sunk;
    rtx_host_set_console_sink(
        [](const char* text, size_t len, void* ctx) {
            static_cast<std::string*>(ctx)->append(text, len);
            static_cast<std::string*>(ctx)->append("|");
        },
        &sunk);
    EXPECT_EQ(boot_printf("error_task:\n-----------\nFailed to open file %s\n", "X.LOG"), 50);
    rtx_boot_printf(1, "E_RegisterErrorTable(): module %d\n", 7);
    EXPECT_STREQ(rtx_host_console_text(),
                 "error_task:\n-----------\nFailed to open file X.LOG\n"
                 "E_RegisterErrorTable(): module 7\n");
    EXPECT_EQ(sunk,
              "error_task:\n-----------\nFailed to open file X.LOG\n|"
              "E_RegisterErrorTable(): module 7\n|");
    rtx_host_console_clear();
    EXPECT_STREQ(rtx_host_console_text(), "");

    const std::string big(10000, 'z');
    EXPECT_EQ(boot_printf("<%s>", big.c_str()), 10002);
    EXPECT_EQ(std::string(rtx_host_console_text()), "<" + big + ">");
    rtx_host_set_console_sink(nullptr, nullptr);
    rtx_host_console_clear();

    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 100; ++i) boot_printf("%s", "0123456789\n");
        });
    for (auto& th : threads) th.join();
    const std::string all = rtx_host_console_text();
    EXPECT_EQ(all.size(), 8u * 100u * 11u);
    size_t pieces = 0;
    for (size_t at = 0; (at = all.find("0123456789\n", at)) != std::string::npos; at += 11)
        ++pieces;
    EXPECT_EQ(pieces, 800u);

    char buf[32];
    EXPECT_EQ(format(buf, "%s-%03d", "ab", 7), 6);
    EXPECT_STREQ(buf, "ab-007");
}
