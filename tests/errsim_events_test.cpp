// errsim event lines: parsing received messages and formatting them exactly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../tools/errsim/events.h"
#include "err/protocol.h"
#include "wire.h"

namespace {

// Builds a message-box request in the layout the error task sends.
struct BoxBuilder {
    std::string title, text;
    std::vector<std::pair<std::string, std::uint16_t>> buttons;
    std::uint16_t first = 0, second = 0xFFFF, flags = 0x08, reply_mode = 0, reply_mbx = 0, seq = 1;

    std::vector<std::uint8_t> build() const {
        std::vector<std::uint8_t> seg(600, 0);
        err::ByteSpan s(seg.data(), seg.size());
        s.put_u16(MSG_SENDER_ID, ERR_SENDER_ID);
        s.put_u16(MSG_REPLY_MODE, reply_mode);
        s.put_u16(MSG_REPLY_MBX, reply_mbx);
        s.put_u16(MSG_BLOCK_COUNT, 1);
        err::ByteSpan b(seg.data() + 12, seg.size() - 12);
        b.put_u16(BLK_COMMAND, CMD_SHOW_BOX);
        b.put_u16(BOX_TYPE, BOX_TYPE_VALUE);
        b.put_u16(BOX_BUTTON_COUNT, static_cast<std::uint16_t>(buttons.size()));
        b.put_u16(BOX_FIRST_MARKED, first);
        b.put_u16(BOX_SECOND_MARKED, second);
        b.put_u16(BOX_FLAGS, flags);
        std::size_t at = BOX_VARIABLE_AREA;
        if (!title.empty()) {
            b.put_u16(BOX_TITLE_OFFSET, static_cast<std::uint16_t>(at));
            b.put_bytes(at, title.c_str(), title.size() + 1);
            at += title.size() + 1;
        }
        if (!text.empty()) {
            b.put_u16(BOX_TEXT_OFFSET, static_cast<std::uint16_t>(at));
            b.put_bytes(at, text.c_str(), text.size() + 1);
            at += text.size() + 1;
        }
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            std::size_t d = BOX_BUTTONS + i * BOX_BUTTON_DESC_SIZE;
            b.put_u16(d, static_cast<std::uint16_t>(at));
            b.put_bytes(at, buttons[i].first.c_str(), buttons[i].first.size() + 1);
            at += buttons[i].first.size() + 1;
            b.put_u16(d + 2, BOX_ANSWER_SIZE);
            b.put_u16(d + 4, static_cast<std::uint16_t>(at));
            b.put_u16(at + MSG_SENDER_ID, GUI_SENDER_ID);
            b.put_u16(at + MSG_BLOCK_COUNT, 1);
            b.put_u16(at + 12 + BLK_COMMAND, CMD_BOX_ANSWER);
            b.put_u16(at + 12 + BLK_LENGTH, 10);
            b.put_u16(at + 12 + BLK_TAG1, seq);
            b.put_u16(at + 12 + BLK_TAG2, seq);
            b.put_u16(at + 12 + BLK_DATA, buttons[i].second);
            at += BOX_ANSWER_SIZE;
        }
        b.put_u16(BLK_LENGTH, static_cast<std::uint16_t>(at));
        seg.resize(12 + at);
        return seg;
    }
};

std::vector<std::uint8_t> simple_message(std::uint16_t command, std::uint16_t length,
                                         std::size_t size) {
    std::vector<std::uint8_t> seg(size, 0);
    err::ByteSpan s(seg.data(), seg.size());
    s.put_u16(MSG_BLOCK_COUNT, 1);
    s.put_u16(MSG_HEADER_SIZE + BLK_COMMAND, command);
    s.put_u16(MSG_HEADER_SIZE + BLK_LENGTH, length);
    return seg;
}

const errsim::MailboxNames kNames{11, 12};

}  // namespace

TEST(ErrsimEvents, EscapesKeepEachEventOnOneLine) {
    EXPECT_EQ(errsim::escape_text("plain $ text"), "plain $ text");
    EXPECT_EQ(errsim::escape_text("a\"b\\c\nd\re\tf"), "a\\\"b\\\\c\\nd\\re\\tf");
    EXPECT_EQ(errsim::escape_text(std::string("\x01\x1f\x7f", 3)), "\\001\\037\\177");
    EXPECT_EQ(errsim::escape_text("\xc3\xa4"), "\xc3\xa4");  // other bytes stay as they are
    EXPECT_EQ(errsim::escape_console("Command:   \"602\" \\ x\ty\x01"),
              "Command:   \"602\" \\ x\\ty\\001");
}

TEST(ErrsimEvents, AwaitedBoxWithTwoButtons) {
    BoxBuilder bb;
    bb.title = "ERROR";
    bb.text = "Pump \"P1\" failed\nsecond line";
    bb.buttons = {{"OK", 3}, {"CANCEL", 4}};
    bb.first = 0;
    bb.second = 0;
    bb.flags = 0x08;
    bb.reply_mode = 2;
    bb.reply_mbx = 12;
    bb.seq = 9;
    auto seg = bb.build();
    auto box = errsim::parse_box_request(seg.data(), seg.size());
    ASSERT_TRUE(box.valid) << box.problem;
    ASSERT_EQ(box.buttons.size(), 2u);
    EXPECT_EQ(box.buttons[1].label, "CANCEL");
    EXPECT_EQ(box.buttons[1].code, 4);
    ASSERT_EQ(box.buttons[1].answer.size(), 22u);
    EXPECT_EQ(box.buttons[1].answer[16], 9);  // tag1 carries the box's sequence number
    EXPECT_EQ(errsim::format_box(3, box, kNames),
              "box seq=3 title=\"ERROR\" text=\"Pump \\\"P1\\\" failed\\nsecond line\" "
              "buttons=OK,CANCEL first=0 second=0 flags=0x08 reply=qmbx");
}

TEST(ErrsimEvents, BoxVariants) {
    BoxBuilder async_box;
    async_box.text = "T";
    async_box.buttons = {{"OK", 3}};
    async_box.reply_mode = 2;
    async_box.reply_mbx = 11;
    auto seg = async_box.build();
    EXPECT_EQ(
        errsim::format_box(1, errsim::parse_box_request(seg.data(), seg.size()), kNames),
        "box seq=1 title=\"\" text=\"T\" buttons=OK first=0 second=65535 flags=0x08 reply=mbx");

    BoxBuilder no_kind;  // no title, no text, no buttons
    no_kind.flags = 0x09;
    no_kind.second = 0;
    seg = no_kind.build();
    EXPECT_EQ(errsim::format_box(2, errsim::parse_box_request(seg.data(), seg.size()), kNames),
              "box seq=2 title=\"\" text=\"\" buttons=none first=0 second=0 flags=0x09 reply=none");

    BoxBuilder other;
    other.buttons = {{"ABORT", 6}};
    other.reply_mode = 2;
    other.reply_mbx = 77;
    other.flags = 0x0C;
    seg = other.build();
    EXPECT_EQ(errsim::format_box(4, errsim::parse_box_request(seg.data(), seg.size()), kNames),
              "box seq=4 title=\"\" text=\"\" buttons=ABORT first=0 second=65535 flags=0x0C "
              "reply=mbx#77");
}

TEST(ErrsimEvents, MalformedBoxStaysInsideTheSegment) {
    BoxBuilder bb;
    bb.text = "abc";
    bb.buttons = {{"OK", 3}};
    auto seg = bb.build();
    // Point the button's answer far past the block: the button keeps its label, no answer.
    err::ByteSpan(seg.data(), seg.size()).put_u16(12 + BOX_BUTTONS + 4, 5000);
    auto box = errsim::parse_box_request(seg.data(), seg.size());
    ASSERT_TRUE(box.valid);
    ASSERT_EQ(box.buttons.size(), 1u);
    EXPECT_TRUE(box.buttons[0].answer.empty());
    EXPECT_EQ(box.buttons[0].code, 0);
    // A text without its NUL ends at the block's end.
    auto cut = bb.build();
    err::ByteSpan(cut.data(), cut.size()).put_u16(12 + BLK_LENGTH, BOX_VARIABLE_AREA + 2);
    box = errsim::parse_box_request(cut.data(), cut.size());
    EXPECT_EQ(box.text, "ab");
    // Too short for the fixed part, another command, no block at all.
    auto small = simple_message(CMD_SHOW_BOX, 10, 22);
    box = errsim::parse_box_request(small.data(), small.size());
    EXPECT_FALSE(box.valid);
    EXPECT_EQ(errsim::format_box(5, box, kNames),
              "box seq=5 invalid \"block shorter than its fixed part\"");
    auto wrong = simple_message(1200, 41, 53);
    EXPECT_EQ(errsim::parse_box_request(wrong.data(), wrong.size()).problem,
              "command 1200 instead of 819");
    std::vector<std::uint8_t> header_only(12, 0);
    EXPECT_EQ(errsim::parse_box_request(header_only.data(), header_only.size()).problem,
              "no command block");
}

TEST(ErrsimEvents, StatusApiAndReplies) {
    auto status = simple_message(CMD_STATUS_TEXT, STATUS_BLOCK_LENGTH, STATUS_SEGMENT_SIZE);
    const char text[] = "Door \"A\" open";
    std::copy(text, text + sizeof text, status.begin() + 12 + STATUS_TEXT);
    EXPECT_EQ(errsim::format_status(status.data(), status.size()),
              "status \"Door \\\"A\\\" open\"");
    auto bad = simple_message(CMD_API_NOTIFY, 24, 36);
    EXPECT_EQ(errsim::format_status(bad.data(), bad.size()), "status invalid");

    auto api = simple_message(CMD_API_NOTIFY, API_BLOCK_LENGTH, API_SEGMENT_SIZE);
    err::ByteSpan a(api.data() + 12, api.size() - 12);
    a.put_u16(API_WORD0, API_ERROR_TWO_PARAMS);
    a.put_u16(API_PARAM2, 2);
    a.put_u16(API_PARAM1, 1);
    a.put_u16(API_ERROR_NR, 300);
    EXPECT_EQ(errsim::format_api(api.data(), api.size()), "api two-params nr=300 p1=1 p2=2");
    a.put_u16(API_WORD0, API_ERROR_ONE_PARAM);
    EXPECT_EQ(errsim::format_api(api.data(), api.size()), "api one-param nr=300 p1=1");
    a.put_u16(API_WORD0, 5);
    EXPECT_EQ(errsim::format_api(api.data(), api.size()), "api word0=5 nr=300 p1=1 p2=2");
    EXPECT_EQ(errsim::format_api(api.data(), 30), "api invalid");

    auto reply = simple_message(CMD_RESPONSE, 10, 22);
    err::ByteSpan(reply.data(), reply.size()).put_u16(12 + RESPONSE_RESULT, 4);
    EXPECT_EQ(errsim::format_report_reply(reply.data(), reply.size()), "reply cmd=601 result=4");
    std::vector<std::uint8_t> header_only(12, 0);
    EXPECT_EQ(errsim::format_report_reply(header_only.data(), header_only.size()),
              "reply cmd=601 none");
    auto exported = simple_message(CMD_RESPONSE, 20, 32);
    EXPECT_EQ(errsim::format_export_reply(610, exported.data(), exported.size()), "reply cmd=610");
    EXPECT_EQ(errsim::format_export_reply(611, header_only.data(), header_only.size()),
              "reply cmd=611 failed");
    EXPECT_EQ(errsim::format_unexpected("GUI_MBX", api.data(), api.size()),
              "unexpected mbx=GUI_MBX cmd=201 size=36");
    EXPECT_EQ(errsim::format_unexpected("API_MBX", header_only.data(), header_only.size()),
              "unexpected mbx=API_MBX cmd=none size=12");
}

TEST(ErrsimEvents, ConsoleLinesSplitAtNewlines) {
    errsim::ConsoleLines c;
    EXPECT_TRUE(c.add("Error Task:\n---").size() == 1);
    auto lines = c.add("--\r\nUnknown");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "-----");
    lines = c.add(" Command received\n\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Unknown Command received");
    EXPECT_EQ(lines[1], "");
    EXPECT_TRUE(c.flush().empty());
    c.add("no line feed");
    lines = c.flush();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "no line feed");
    EXPECT_TRUE(c.flush().empty());
}
