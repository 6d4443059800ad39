// errsim event lines: parsing received messages and formatting them exactly.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "../tools/errsim/events.h"
#include "err/protocol.h"
#include "wire.h"

namespace {

// Builds a message-box request in the layout the error task sends.
struct BoxBuilder {
    std::string title{}, text{};
    std::vector<std::pair<std::string, std::uint16_t>> buttons{};
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
        auto put_text = [&](const std::string& t) {  // a text and its NUL; returns its offset
            b.put_bytes(at, t.c_str(), t.size() + 1);
            at += t.size() + 1;
            return static_cast<std::uint16_t>(at - t.size() - 1);
        };
        if (!title.empty()) b.put_u16(BOX_TITLE_OFFSET, put_text(title));
        if (!text.empty()) b.put_u16(BOX_TEXT_OFFSET, put_text(text));
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            std::size_t d = BOX_BUTTONS + i * BOX_BUTTON_DESC_SIZE;
            b.put_u16(d, put_text(buttons[i].first));
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

// The event line of a box request built by box.
std::string box_line(int seq, const BoxBuilder& box) {
    const std::vector<std::uint8_t> seg = box.build();
    return errsim::format_box(seq, errsim::parse_box_request(seg.data(), seg.size()), kNames);
}

}  // namespace

// Quotes, backslashes and control characters are escaped; other bytes stay.
TEST(ErrsimEvents, EscapesKeepEachEventOnOneLine) {
    EXPECT_EQ(errsim::escape_text("plain $ text"), "plain $ text");
    EXPECT_EQ(errsim::escape_text("a\"b\\c\nd\re\tf"), "a\\\"b\\\\c\\nd\\re\\tf");
    EXPECT_EQ(errsim::escape_text(std::string("\x01\x1f\x7f", 3)), "\\001\\037\\177");
    EXPECT_EQ(errsim::escape_text("\xc3\xa4"), "\xc3\xa4");  // other bytes stay as they are
    EXPECT_EQ(errsim::escape_console("Command:   \"602\" \\ x\ty\x01"),
              "Command:   \"602\" \\ x\\ty\\001");
}

// A box request: its buttons with their answers, and its event line for each reply route.
TEST(ErrsimEvents, BoxRequestsAndTheirLines) {
    const BoxBuilder awaited{.title = "ERROR",
                             .text = "Pump \"P1\" failed\nsecond line",
                             .buttons = {{"OK", 3}, {"CANCEL", 4}},
                             .second = 0,
                             .reply_mode = 2,
                             .reply_mbx = 12,
                             .seq = 9};
    auto seg = awaited.build();
    auto box = errsim::parse_box_request(seg.data(), seg.size());
    ASSERT_TRUE(box.valid) << box.problem;
    ASSERT_EQ(box.buttons.size(), 2u);
    EXPECT_EQ(box.buttons[1].label, "CANCEL");
    EXPECT_EQ(box.buttons[1].code, 4);
    ASSERT_EQ(box.buttons[1].answer.size(), 22u);
    EXPECT_EQ(box.buttons[1].answer[16], 9);  // tag1 carries the box's sequence number

    const std::pair<BoxBuilder, const char*> cases[] = {
        {awaited,
         "box seq=3 title=\"ERROR\" text=\"Pump \\\"P1\\\" failed\\nsecond line\" "
         "buttons=OK,CANCEL first=0 second=0 flags=0x08 reply=qmbx"},
        {{.text = "T", .buttons = {{"OK", 3}}, .reply_mode = 2, .reply_mbx = 11},
         "box seq=3 title=\"\" text=\"T\" buttons=OK first=0 second=65535 flags=0x08 reply=mbx"},
        {{.second = 0, .flags = 0x09},  // no title, no text, no buttons
         "box seq=3 title=\"\" text=\"\" buttons=none first=0 second=0 flags=0x09 reply=none"},
        {{.buttons = {{"ABORT", 6}}, .flags = 0x0C, .reply_mode = 2, .reply_mbx = 77},
         "box seq=3 title=\"\" text=\"\" buttons=ABORT first=0 second=65535 flags=0x0C "
         "reply=mbx#77"},
    };
    for (const auto& [builder, line] : cases) EXPECT_EQ(box_line(3, builder), line);
}

// Offsets of a malformed request are not followed outside the block or the segment.
TEST(ErrsimEvents, MalformedBoxStaysInsideTheSegment) {
    const BoxBuilder bb{.text = "abc", .buttons = {{"OK", 3}}};
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

// Status texts, API notices, replies and unexpected messages as event lines.
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
