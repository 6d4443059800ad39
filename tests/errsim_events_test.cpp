// errsim's event lines where the tool runs (tests/cases/tool_*.errsim) cannot reach them:
// messages that the error task never sends (malformed, other commands, other mailboxes) and
// console output cut anywhere.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../tools/errsim/events.h"
#include "err/protocol.h"
#include "wire.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A message of size bytes: the header and one block of the given command and length.
Bytes message(std::uint16_t command, std::uint16_t length, std::size_t size) {
    Bytes m(size, 0);
    err::ByteSpan s(m.data(), m.size());
    s.put_u16(MSG_BLOCK_COUNT, 1);
    s.put_u16(MSG_HEADER_SIZE + BLK_COMMAND, command);
    s.put_u16(MSG_HEADER_SIZE + BLK_LENGTH, length);
    return m;
}

// A box request with text "abc" and one button OK answering 3, the answer to mailbox 77.
Bytes box_request() {
    Bytes m = message(CMD_SHOW_BOX, 0, 200);
    err::ByteSpan(m.data(), m.size()).put_u16(MSG_REPLY_MODE, 2);
    err::ByteSpan(m.data(), m.size()).put_u16(MSG_REPLY_MBX, 77);
    err::ByteSpan b(m.data() + MSG_HEADER_SIZE, m.size() - MSG_HEADER_SIZE);
    b.put_u16(BOX_BUTTON_COUNT, 1);
    b.put_u16(BOX_SECOND_MARKED, 0xFFFF);
    b.put_u16(BOX_FLAGS, 0x0C);
    b.put_u16(BOX_TEXT_OFFSET, BOX_VARIABLE_AREA);
    b.put_bytes(BOX_VARIABLE_AREA, "abc", 4);
    b.put_u16(BOX_BUTTONS, BOX_VARIABLE_AREA + 4);
    b.put_bytes(BOX_VARIABLE_AREA + 4, "OK", 3);
    b.put_u16(BOX_BUTTONS + 2, BOX_ANSWER_SIZE);
    b.put_u16(BOX_BUTTONS + 4, BOX_VARIABLE_AREA + 7);
    b.put_u16(BOX_VARIABLE_AREA + 7 + BOX_ANSWER_CODE, 3);
    b.put_u16(BLK_LENGTH, BOX_VARIABLE_AREA + 7 + BOX_ANSWER_SIZE);
    return m;
}

std::string box_line(const Bytes& m) {
    return errsim::format_box(5, errsim::parse_box_request(m.data(), m.size()), {11, 12});
}

}  // namespace

// A box request to another mailbox, and offsets of malformed requests that are not followed
// outside the block or the segment.
TEST(ErrsimEvents, BoxRequestsReadInsideTheirBlock) {
    Bytes m = box_request();
    EXPECT_EQ(box_line(m),
              "box seq=5 title=\"\" text=\"abc\" buttons=OK first=0 second=65535 "
              "flags=0x0C reply=mbx#77");
    EXPECT_EQ(errsim::parse_box_request(m.data(), m.size()).buttons.at(0).code, 3);
    // The button's answer far past the block: the button keeps its label, has no answer.
    err::ByteSpan(m.data(), m.size()).put_u16(MSG_HEADER_SIZE + BOX_BUTTONS + 4, 5000);
    auto box = errsim::parse_box_request(m.data(), m.size());
    EXPECT_EQ(box.buttons.at(0).label, "OK");
    EXPECT_TRUE(box.buttons[0].answer.empty());
    EXPECT_EQ(box.buttons[0].code, 0);
    // A text without its NUL ends at the block's end.
    err::ByteSpan(m.data(), m.size()).put_u16(MSG_HEADER_SIZE + BLK_LENGTH, BOX_VARIABLE_AREA + 2);
    EXPECT_EQ(errsim::parse_box_request(m.data(), m.size()).text, "ab");
    // Too short for the fixed part, another command, no block at all.
    EXPECT_EQ(box_line(message(CMD_SHOW_BOX, 10, 22)),
              "box seq=5 invalid \"block shorter than its fixed part\"");
    EXPECT_EQ(box_line(message(1200, 41, 53)), "box seq=5 invalid \"command 1200 instead of 819\"");
    EXPECT_EQ(box_line(Bytes(12, 0)), "box seq=5 invalid \"no command block\"");
    m = box_request();
    err::ByteSpan(m.data(), m.size()).put_u16(MSG_BLOCK_COUNT, 0);
    EXPECT_EQ(box_line(m), "box seq=5 invalid \"no command block\"");
}

// Status texts, API notices and replies that are invalid, short or of another kind.
TEST(ErrsimEvents, OddMessagesAsEventLines) {
    const Bytes bad_status = message(CMD_API_NOTIFY, 24, 36);
    EXPECT_EQ(errsim::format_status(bad_status.data(), bad_status.size()), "status invalid");
    Bytes api = message(CMD_API_NOTIFY, API_BLOCK_LENGTH, API_SEGMENT_SIZE);
    err::ByteSpan a(api.data() + MSG_HEADER_SIZE, api.size() - MSG_HEADER_SIZE);
    a.put_u16(API_WORD0, 5);
    a.put_u16(API_ERROR_NR, 300);
    a.put_u16(API_PARAM1, 1);
    a.put_u16(API_PARAM2, 2);
    EXPECT_EQ(errsim::format_api(api.data(), api.size()), "api word0=5 nr=300 p1=1 p2=2");
    EXPECT_EQ(errsim::format_api(api.data(), 30), "api invalid");
    const Bytes header_only(12, 0);
    EXPECT_EQ(errsim::format_report_reply(header_only.data(), 12), "reply cmd=601 none");
    EXPECT_EQ(errsim::format_unexpected("GUI_MBX", api.data(), api.size()),
              "unexpected mbx=GUI_MBX cmd=201 size=36");
    EXPECT_EQ(errsim::format_unexpected("API_MBX", header_only.data(), 12),
              "unexpected mbx=API_MBX cmd=none size=12");
    // Console lines escape control characters only.
    EXPECT_EQ(errsim::escape_console("Command:   \"602\" \\ x\ty\x01"),
              "Command:   \"602\" \\ x\\ty\\001");
}

// Console output is split into lines at LF (a CR before it dropped); the rest on flush.
TEST(ErrsimEvents, ConsoleLinesSplitAtNewlines) {
    using Lines = std::vector<std::string>;
    errsim::ConsoleLines c;
    EXPECT_EQ(c.add("Error Task:\n---"), Lines{"Error Task:"});
    EXPECT_EQ(c.add("--\r\nUnknown"), Lines{"-----"});
    EXPECT_EQ(c.add(" Command received\n\n"), (Lines{"Unknown Command received", ""}));
    EXPECT_EQ(c.flush(), Lines{});
    EXPECT_EQ(c.add("no line feed"), Lines{});
    EXPECT_EQ(c.flush(), Lines{"no line feed"});
    EXPECT_EQ(c.flush(), Lines{});
}
