// EReportError: the bytes of the 232-byte report segment, cutting and padding of the texts,
// and what happens to a report when the executive refuses the lookup, the allocation or the
// send.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core_helpers.h"
#include "err/err.h"

using core_test::kBlock;
using core_test::raw_field;
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

}  // namespace

TEST_F(ReportTest, SegmentBytesAtEveryOffset) {
    EXPECT_EQ(EReportError("module.cpp", 0x01020304, 0xBEEF, "info text"), 0);
    const std::vector<std::uint8_t> bytes = take_message(mbx_);
    ASSERT_EQ(bytes.size(), 232u);

    std::vector<std::uint8_t> expected(232, 0);
    // Header: sender 0, reply mode 0, reply mailbox 0, replied words 0, one block.
    expected[10] = 1;
    // Block head: command 601 (0x0259), length 220 (0xDC), tags 0.
    expected[12] = 0x59;
    expected[13] = 0x02;
    expected[14] = 0xDC;
    expected[15] = 0x00;
    // error_nr, reserved, line (little-endian).
    expected[20] = 0xEF;
    expected[21] = 0xBE;
    expected[24] = 0x04;
    expected[25] = 0x03;
    expected[26] = 0x02;
    expected[27] = 0x01;
    const std::string file = "module.cpp";
    const std::string info = "info text";
    std::copy(file.begin(), file.end(), expected.begin() + 28);
    std::copy(info.begin(), info.end(), expected.begin() + 108);
    EXPECT_EQ(bytes, expected);

    // The named offsets say the same.
    const core_test::Report r = core_test::read_report(bytes);
    EXPECT_EQ(r.error_nr, 0xBEEF);
    EXPECT_EQ(r.line, 0x01020304);
    EXPECT_EQ(r.file, "module.cpp");
    EXPECT_EQ(r.info, "info text");
    EXPECT_EQ(kBlock + REPORT_FILE, 28u);
    EXPECT_EQ(kBlock + REPORT_INFO, 108u);

    // Negative lines and any number travel unchanged; nothing is printed.
    EReportError("a.c", -7, 0, "");
    const core_test::Report r2 = core_test::read_report(take_message(mbx_));
    EXPECT_EQ(r2.line, -7);
    EXPECT_EQ(r2.error_nr, 0);
    EXPECT_EQ(r2.info, "");
    EXPECT_EQ(core_test::console(), "");
    EXPECT_EQ(core_test::counters().segments_in_use, 0u);
}

TEST_F(ReportTest, TextFieldsAreCutAndPadded) {
    // Exactly 80 characters: the field is full, no terminator, info follows directly.
    const std::string file80(80, 'f');
    const std::string info120 = std::string(119, 'i') + "J";
    EReportError(file80.c_str(), 1, 3, info120.c_str());
    std::vector<std::uint8_t> bytes = take_message(mbx_);
    ASSERT_EQ(bytes.size(), 232u);
    EXPECT_EQ(raw_field(bytes, 28, 80), file80);
    EXPECT_EQ(raw_field(bytes, 108, 120), info120);
    EXPECT_EQ(raw_field(bytes, 228, 4), std::string(4, '\0'));

    // Longer texts: their first 80 and 120 characters.
    std::string file_long;
    for (int i = 0; i < 30; ++i) file_long += "0123456789";
    const std::string info_long = std::string(120, 'x') + "TAIL-NOT-SENT";
    EReportError(file_long.c_str(), 2, 4, info_long.c_str());
    bytes = take_message(mbx_);
    ASSERT_EQ(bytes.size(), 232u);
    EXPECT_EQ(raw_field(bytes, 28, 80), file_long.substr(0, 80));
    EXPECT_EQ(raw_field(bytes, 108, 120), std::string(120, 'x'));
    EXPECT_EQ(raw_field(bytes, 228, 4), std::string(4, '\0'));

    // 79 and 119 characters: one terminating NUL each.
    const std::string file79(79, 'g');
    const std::string info119(119, 'h');
    EReportError(file79.c_str(), 3, 5, info119.c_str());
    bytes = take_message(mbx_);
    EXPECT_EQ(raw_field(bytes, 28, 80), padded(file79, 80));
    EXPECT_EQ(raw_field(bytes, 108, 120), padded(info119, 120));

    // Short texts are followed by NULs up to the end of their fields.
    EReportError("x.c", 4, 6, "ab");
    bytes = take_message(mbx_);
    EXPECT_EQ(raw_field(bytes, 28, 80), padded("x.c", 80));
    EXPECT_EQ(raw_field(bytes, 108, 120), padded("ab", 120));

    // Null texts: the fields begin with NUL (and are otherwise clear).
    EReportError(nullptr, 5, 7, nullptr);
    bytes = take_message(mbx_);
    const core_test::Report r = core_test::read_report(bytes);
    EXPECT_EQ(r.file, "");
    EXPECT_EQ(r.info, "");
    EXPECT_EQ(r.line, 5);
    EXPECT_EQ(r.error_nr, 7);
    EXPECT_EQ(raw_field(bytes, 28, 80), std::string(80, '\0'));
    EXPECT_EQ(raw_field(bytes, 108, 120), std::string(120, '\0'));
}

TEST_F(ReportTest, FileNameLosesItsDirectoryPart) {
    const char* path = "C:\\firmware\\src/sub:dir\\unit.cpp";
    const char* before = path;
    EReportError(path, 9, 2, "i");
    EXPECT_EQ(path, before);  // the caller's pointer is not moved
    EXPECT_EQ(core_test::read_report(take_message(mbx_)).file, "unit.cpp");

    EReportError("/usr/src/err/except.cpp", 10, 2, "i");
    EXPECT_EQ(core_test::read_report(take_message(mbx_)).file, "except.cpp");

    // A path of more than 80 characters is cut after its directory part is gone.
    const std::string long_path = std::string(100, 'd') + "\\short.cpp";
    EReportError(long_path.c_str(), 11, 2, "i");
    EXPECT_EQ(core_test::read_report(take_message(mbx_)).file, "short.cpp");
}

TEST_F(ReportTest, EachReportLooksUpAllocatesAndSends) {
    const rtx_host_counters before = core_test::counters();
    EReportError("a.cpp", 1, 100, "one");
    EReportError("b.cpp", 2, 200, "two");
    const rtx_host_counters after = core_test::counters();
    EXPECT_EQ(after.calls[RTX_OP_LOOKUP] - before.calls[RTX_OP_LOOKUP], 2u);
    EXPECT_EQ(after.calls[RTX_OP_ALLOC] - before.calls[RTX_OP_ALLOC], 2u);
    EXPECT_EQ(after.calls[RTX_OP_SEND] - before.calls[RTX_OP_SEND], 2u);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 2u);

    // In the order sent.
    const core_test::Report first = core_test::read_report(take_message(mbx_));
    const core_test::Report second = core_test::read_report(take_message(mbx_));
    EXPECT_EQ(first.error_nr, 100);
    EXPECT_EQ(first.info, "one");
    EXPECT_EQ(second.error_nr, 200);
    EXPECT_EQ(second.file, "b.cpp");
    EXPECT_EQ(core_test::counters().segments_in_use, 0u);
}

TEST_F(ReportTest, ReportIsDroppedWhenTheExecutiveRefuses) {
    // Lookup fails: nothing is allocated or sent, nothing printed; the result is non-zero.
    rtx_host_fail_next(RTX_OP_LOOKUP, 1, RTX_E_NOT_FOUND);
    rtx_host_counters before = core_test::counters();
    EXPECT_NE(EReportError("a.cpp", 1, 2, "x"), 0);
    rtx_host_counters after = core_test::counters();
    EXPECT_EQ(after.calls[RTX_OP_ALLOC], before.calls[RTX_OP_ALLOC]);
    EXPECT_EQ(after.calls[RTX_OP_SEND], before.calls[RTX_OP_SEND]);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 0u);

    // Allocation fails: nothing is sent.
    rtx_host_fail_next(RTX_OP_ALLOC, 1, RTX_E_NOMEM);
    before = core_test::counters();
    EXPECT_NE(EReportError("a.cpp", 1, 2, "x"), 0);
    after = core_test::counters();
    EXPECT_EQ(after.calls[RTX_OP_SEND], before.calls[RTX_OP_SEND]);
    EXPECT_EQ(after.segments_in_use, 0u);

    // Send fails: the segment is freed, the report is lost.
    rtx_host_fail_next(RTX_OP_SEND, 1, RTX_E_INJECTED);
    EXPECT_NE(EReportError("a.cpp", 1, 2, "x"), 0);
    EXPECT_EQ(core_test::counters().segments_in_use, 0u);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 0u);

    EXPECT_EQ(core_test::console(), "");

    // The next report goes through again.
    EXPECT_EQ(EReportError("a.cpp", 1, 2, "x"), 0);
    EXPECT_EQ(rtx_host_mailbox_depth(mbx_), 1u);
}

TEST(ReportWithoutMailbox, DroppedWithoutAllocation) {
    core_test::quiet_console();
    const rtx_host_counters before = core_test::counters();
    EXPECT_NE(EReportError("a.cpp", 1, 2, "x"), 0);
    const rtx_host_counters after = core_test::counters();
    EXPECT_EQ(after.calls[RTX_OP_LOOKUP] - before.calls[RTX_OP_LOOKUP], 1u);
    EXPECT_EQ(after.calls[RTX_OP_ALLOC], before.calls[RTX_OP_ALLOC]);
    EXPECT_EQ(after.calls[RTX_OP_SEND], before.calls[RTX_OP_SEND]);
    EXPECT_EQ(after.segments_in_use, 0u);
    EXPECT_EQ(core_test::console(), "");

    // The lookup is made anew on every call: once the mailbox exists, reports arrive.
    const std::uint16_t mbx = core_test::create_error_mbx();
    EXPECT_EQ(EReportError("a.cpp", 1, 2, "x"), 0);
    EXPECT_EQ(core_test::read_report(take_message(mbx)).error_nr, 2);
}
