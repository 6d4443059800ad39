// EReportError: the bytes of the 232-byte report segment, cutting and padding of the texts,
// and what happens to a report when the executive refuses the lookup, the allocation or the
// send.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core_helpers.h"
#include "err/err.h"

using core_test::console;
using core_test::counters;
using core_test::raw_field;
using core_test::read_report;
using core_test::take_message;

namespace {

class ReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        core_test::quiet_console();
        mbx_ = core_test::create_error_mbx();
    }
    std::uint16_t mbx_ = 0;
};

std::string padded(const std::string& text, std::size_t size) {
    std::string s = text.substr(0, size);
    s.resize(size, '\0');
    return s;
}

std::uint64_t calls_since(const rtx_host_counters& before, rtx_host_op op) {
    return counters().calls[op] - before.calls[op];
}

}  // namespace

// The report segment byte for byte: header, block head, number, line and the two texts.
TEST_F(ReportTest, SegmentBytesAtEveryOffset) {
    EXPECT_EQ(EReportError("module.cpp", 0x01020304, 0xBEEF, "info text"), 0);
    const std::vector<std::uint8_t> bytes = take_message(mbx_);
    // Header: sender, reply mode, reply mailbox, replied words 0, one block; block head:
    // command 601, length 220, tags 0; error_nr, reserved, line (little-endian).
    const std::uint8_t head[28] = {0,    0,    0,    0,    0,    0,    0,    0,   0, 0,
                                   1,    0,    0x59, 0x02, 0xDC, 0x00, 0,    0,   0, 0,
                                   0xEF, 0xBE, 0,    0,    0x04, 0x03, 0x02, 0x01};
    std::vector<std::uint8_t> expected(head, head + 28);
    const std::string texts = padded("module.cpp", 80) + padded("info text", 124);
    expected.insert(expected.end(), texts.begin(), texts.end());
    EXPECT_EQ(bytes, expected);

    // The named offsets say the same.
    const core_test::Report r = read_report(bytes);
    EXPECT_EQ(r.error_nr, 0xBEEF);
    EXPECT_EQ(r.line, 0x01020304);
    EXPECT_EQ(r.file, "module.cpp");
    EXPECT_EQ(r.info, "info text");

    // Negative lines and any number travel unchanged; nothing is printed.
    EReportError("a.c", -7, 0, "");
    const core_test::Report r2 = read_report(take_message(mbx_));
    EXPECT_EQ(r2.line, -7);
    EXPECT_EQ(r2.error_nr, 0);
    EXPECT_EQ(r2.info, "");
    EXPECT_EQ(console(), "");
    EXPECT_EQ(counters().segments_in_use, 0u);
}

// The texts fill their fields of 80 and 120 bytes: cut when longer, NUL-padded when shorter,
// without a terminator when they fill the field; the 4 bytes after the info stay 0.
TEST_F(ReportTest, TextFieldsAreCutAndPadded) {
    std::string digits;
    for (int i = 0; i < 30; ++i) digits += "0123456789";
    const std::pair<std::string, std::string> cases[] = {
        {std::string(80, 'f'), std::string(119, 'i') + "J"},  // exactly full
        {digits, std::string(120, 'x') + "TAIL-NOT-SENT"},    // longer
        {std::string(79, 'g'), std::string(119, 'h')},        // one terminating NUL each
        {"x.c", "ab"},                                        // short
    };
    for (const auto& [file, info] : cases) {
        SCOPED_TRACE(file.substr(0, 12));
        EReportError(file.c_str(), 1, 3, info.c_str());
        const std::vector<std::uint8_t> bytes = take_message(mbx_);
        ASSERT_EQ(bytes.size(), 232u);
        EXPECT_EQ(raw_field(bytes, 28, 80), padded(file, 80));
        EXPECT_EQ(raw_field(bytes, 108, 124), padded(info, 120) + std::string(4, '\0'));
    }

    // Null texts: the fields are clear.
    EReportError(nullptr, 5, 7, nullptr);
    const std::vector<std::uint8_t> bytes = take_message(mbx_);
    const core_test::Report r = read_report(bytes);
    EXPECT_EQ(r.line, 5);
    EXPECT_EQ(r.error_nr, 7);
    EXPECT_EQ(raw_field(bytes, 28, 204), std::string(204, '\0'));
}

// The file name travels without its directory part, then cut to 80 characters.
TEST_F(ReportTest, FileNameLosesItsDirectoryPart) {
    const std::pair<std::string, const char*> cases[] = {
        {"C:\\firmware\\src/sub:dir\\unit.cpp", "unit.cpp"},
        {"/usr/src/err/except.cpp", "except.cpp"},
        {std::string(100, 'd') + "\\short.cpp", "short.cpp"},
    };
    for (const auto& [path, name] : cases) {
        EReportError(path.c_str(), 9, 2, "i");
        EXPECT_EQ(read_report(take_message(mbx_)).file, name) << path;
    }
}

// Every report looks ERROR_MBX up, allocates and sends; reports arrive in the order sent.
TEST_F(ReportTest, EachReportLooksUpAllocatesAndSends) {
    const rtx_host_counters before = counters();
    EReportError("a.cpp", 1, 100, "one");
    EReportError("b.cpp", 2, 200, "two");
    EXPECT_EQ(calls_since(before, RTX_OP_LOOKUP), 2u);
    EXPECT_EQ(calls_since(before, RTX_OP_ALLOC), 2u);
    EXPECT_EQ(calls_since(before, RTX_OP_SEND), 2u);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 2u);

    const core_test::Report first = read_report(take_message(mbx_));
    const core_test::Report second = read_report(take_message(mbx_));
    EXPECT_EQ(first.error_nr, 100);
    EXPECT_EQ(first.info, "one");
    EXPECT_EQ(second.error_nr, 200);
    EXPECT_EQ(second.file, "b.cpp");
    EXPECT_EQ(counters().segments_in_use, 0u);
}

// A refused lookup, allocation or send drops the report quietly, with nothing left behind,
// and a non-zero result; the next report goes through again.
TEST_F(ReportTest, ReportIsDroppedWhenTheExecutiveRefuses) {
    struct Refusal {
        rtx_host_op op;
        std::uint16_t status;
        std::uint64_t allocs, sends;  // calls the report still makes
    };
    const Refusal refusals[] = {
        {RTX_OP_LOOKUP, RTX_E_NOT_FOUND, 0, 0},
        {RTX_OP_ALLOC, RTX_E_NOMEM, 1, 0},
        {RTX_OP_SEND, RTX_E_INJECTED, 1, 1},  // the segment is freed
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.op);
        rtx_host_fail_next(refusal.op, 1, refusal.status);
        const rtx_host_counters before = counters();
        EXPECT_NE(EReportError("a.cpp", 1, 2, "x"), 0);
        EXPECT_EQ(calls_since(before, RTX_OP_ALLOC), refusal.allocs);
        EXPECT_EQ(calls_since(before, RTX_OP_SEND), refusal.sends);
        EXPECT_EQ(counters().segments_in_use, 0u);
        EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 0u);
    }
    EXPECT_EQ(console(), "");
    EXPECT_EQ(EReportError("a.cpp", 1, 2, "x"), 0);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 1u);
}

// Without ERROR_MBX a report is dropped after the lookup; the lookup is made anew each time.
TEST(ReportWithoutMailbox, DroppedWithoutAllocation) {
    core_test::quiet_console();
    const rtx_host_counters before = counters();
    EXPECT_NE(EReportError("a.cpp", 1, 2, "x"), 0);
    EXPECT_EQ(calls_since(before, RTX_OP_LOOKUP), 1u);
    EXPECT_EQ(calls_since(before, RTX_OP_ALLOC), 0u);
    EXPECT_EQ(calls_since(before, RTX_OP_SEND), 0u);
    EXPECT_EQ(counters().segments_in_use, 0u);
    EXPECT_EQ(console(), "");

    const std::uint16_t mbx = core_test::create_error_mbx();
    EXPECT_EQ(EReportError("a.cpp", 1, 2, "x"), 0);
    EXPECT_EQ(read_report(take_message(mbx)).error_nr, 2);
}
