// EReportError: the bytes of the 232-byte report segment, the cutting and padding of its
// texts, and what happens to a report when the executive refuses the lookup, the allocation
// or the send.
#include "core_helpers.h"

using core_test::counters;
using core_test::take_message;

namespace {

std::string padded(const std::string& text, std::size_t size) {
    std::string s = text.substr(0, size);
    s.resize(size, '\0');
    return s;
}

}  // namespace

// The report segments byte for byte, in the order sent: the file name loses its directory part;
// the texts fill their fields of 80 and 120 bytes: cut when longer, NUL-padded when shorter,
// without a terminator when they fill the field; the 4 bytes after the info stay 0; null texts
// leave the fields clear.
TEST(Report, SegmentBytes) {
    core_test::quiet_console();
    const std::uint16_t mbx = core_test::create_error_mbx();
    // Header: sender, reply mode, reply mailbox, replied words 0, one block; block head:
    // command 601, length 220, tags 0; error_nr 0xBEEF, reserved, line 0x01020304.
    const std::string head(
        "\0\0\0\0\0\0\0\0\0\0\1\0\x59\x02\xDC\0\0\0\0\0\xEF\xBE\0\0\x04\x03\x02\x01", 28);
    std::string digits;
    for (int i = 0; i < 30; ++i) digits += "0123456789";
    const struct {
        std::string file, name, info;
    } cases[] = {
        {"module.cpp", "module.cpp", "info text"},
        {std::string(80, 'f'), std::string(80, 'f'), std::string(119, 'i') + "J"},  // full
        {digits, digits, std::string(120, 'x') + "TAIL-NOT-SENT"},                  // longer
        {std::string(79, 'g'), std::string(79, 'g'), std::string(119, 'h')},
        {"C:\\firmware\\src/sub:dir\\unit.cpp", "unit.cpp", "ab"},
        {std::string(100, 'd') + "\\short.cpp", "short.cpp", ""},
    };
    for (const auto& c : cases) EReportError(c.file.c_str(), 0x01020304, 0xBEEF, c.info.c_str());
    EXPECT_EQ(EReportError(nullptr, 0x01020304, 0xBEEF, nullptr), 0);
    for (const auto& c : cases)
        EXPECT_EQ(take_message(mbx),
                  head + padded(c.name, 80) + padded(c.info, 120) + padded("", 4))
            << c.file;
    EXPECT_EQ(take_message(mbx), head + padded("", 204));
    EXPECT_EQ(counters().segments_in_use, 0u);
}

// Each report looks ERROR_MBX up anew, allocates and sends. Without ERROR_MBX, or when the
// executive refuses the lookup, the allocation or the send, the report is dropped quietly with
// a non-zero result and nothing left behind; the next one goes through again.
TEST(Report, EachReportLooksUpAllocatesAndSendsOrIsDropped) {
    core_test::quiet_console();
    const struct {
        int refused;  // the operation refused (-1: none), or -2: no ERROR_MBX yet
        std::uint64_t allocs, sends, queued;
    } cases[] = {{-2, 0, 0, 0},           {-1, 1, 1, 1},          {RTX_OP_LOOKUP, 0, 0, 0},
                 {RTX_OP_ALLOC, 1, 0, 0}, {RTX_OP_SEND, 1, 1, 0}, {-1, 1, 1, 1}};
    std::uint16_t mbx = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refused);
        if (c.refused != -2 && mbx == 0) mbx = core_test::create_error_mbx();
        if (c.refused >= 0) rtx_host_fail_next(rtx_host_op(c.refused), 1, RTX_E_INJECTED);
        const rtx_host_counters before = counters();
        EXPECT_EQ(EReportError("a.cpp", 1, 2, "x") != 0, c.queued == 0);
        const rtx_host_counters after = counters();
        EXPECT_EQ(after.calls[RTX_OP_LOOKUP] - before.calls[RTX_OP_LOOKUP], 1u);
        EXPECT_EQ(after.calls[RTX_OP_ALLOC] - before.calls[RTX_OP_ALLOC], c.allocs);
        EXPECT_EQ(after.calls[RTX_OP_SEND] - before.calls[RTX_OP_SEND], c.sends);
        EXPECT_EQ(c.queued == 0 ? "" : core_test::take_report(mbx), c.queued ? "2 1 a.cpp: x" : "");
        EXPECT_EQ(counters().segments_in_use, 0u);
    }
    EXPECT_EQ(rtx_host_mailbox_depth(mbx), 0u);
    EXPECT_EQ(core_test::console(), "");
}
