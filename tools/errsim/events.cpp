#include "events.h"

#include <cstdio>

#include "err/protocol.h"
#include "wire.h"

namespace errsim {

namespace {

void append_octal(std::string& out, unsigned char c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\%03o", c);
    out += buf;
}

// The first command block of a message, cut to its block_length and to the segment.
bool first_block(const err::ByteView& msg, err::ByteView& block, std::uint16_t& command) {
    std::uint16_t count = 0, length = 0;
    if (!msg.u16(MSG_BLOCK_COUNT, count) || count == 0) return false;
    if (!msg.u16(MSG_HEADER_SIZE + BLK_COMMAND, command)) return false;
    if (!msg.u16(MSG_HEADER_SIZE + BLK_LENGTH, length)) return false;
    std::size_t avail = msg.size() - MSG_HEADER_SIZE;
    block = msg.sub(MSG_HEADER_SIZE, length < avail ? length : avail);
    return true;
}

}  // namespace

std::string escape_text(std::string_view text) {
    std::string out;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F)
                    append_octal(out, c);
                else
                    out.push_back(ch);
        }
    }
    return out;
}

std::string escape_console(std::string_view text) {
    std::string out;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '\t')
            out += "\\t";
        else if (c < 0x20 || c == 0x7F)
            append_octal(out, c);
        else
            out.push_back(ch);
    }
    return out;
}

std::string format_box(std::uint32_t seq, const BoxRequest& box, const MailboxNames& names) {
    std::string line = "box seq=" + std::to_string(seq);
    if (!box.valid) return line + " invalid \"" + escape_text(box.problem) + "\"";
    line += " title=\"" + escape_text(box.title) + "\"";
    line += " text=\"" + escape_text(box.text) + "\"";
    line += " buttons=";
    if (box.buttons.empty()) line += "none";
    for (std::size_t i = 0; i < box.buttons.size(); ++i) {
        if (i) line += ",";
        // Labels are the module's own captions; escaped all the same so the list stays parseable.
        line += box.buttons[i].label.empty() ? "?" : escape_text(box.buttons[i].label);
    }
    char tail[96];
    std::snprintf(tail, sizeof tail, " first=%u second=%u flags=0x%02X reply=",
                  static_cast<unsigned>(box.first_marked), static_cast<unsigned>(box.second_marked),
                  static_cast<unsigned>(box.flags));
    line += tail;
    if (box.reply_mode == 0)
        line += "none";
    else if (box.reply_mbx == names.error_qmbx)
        line += "qmbx";
    else if (box.reply_mbx == names.error_mbx)
        line += "mbx";
    else
        line += "mbx#" + std::to_string(box.reply_mbx);
    return line;
}

std::string format_answer(std::uint32_t seq, std::uint16_t code) {
    return "answer seq=" + std::to_string(seq) + " code=" + std::to_string(code);
}

std::string format_status(const std::uint8_t* message, std::size_t size) {
    err::ByteView msg(message, size);
    err::ByteView block;
    std::uint16_t command = 0;
    if (!first_block(msg, block, command) || command != CMD_STATUS_TEXT ||
        !block.has(STATUS_TEXT, 0))
        return "status invalid";
    std::size_t n = block.text_length(STATUS_TEXT, block.size() - STATUS_TEXT);
    std::string text(reinterpret_cast<const char*>(block.data() + STATUS_TEXT), n);
    return "status \"" + escape_text(text) + "\"";
}

std::string format_api(const std::uint8_t* message, std::size_t size) {
    err::ByteView msg(message, size);
    err::ByteView block;
    std::uint16_t command = 0;
    std::uint16_t word0 = 0, p2 = 0, p1 = 0, nr = 0;
    if (!first_block(msg, block, command) || command != CMD_API_NOTIFY ||
        !block.u16(API_WORD0, word0) || !block.u16(API_PARAM2, p2) || !block.u16(API_PARAM1, p1) ||
        !block.u16(API_ERROR_NR, nr))
        return "api invalid";
    std::string tail = " nr=" + std::to_string(nr) + " p1=" + std::to_string(p1);
    if (word0 == API_ERROR_TWO_PARAMS) return "api two-params" + tail + " p2=" + std::to_string(p2);
    if (word0 == API_ERROR_ONE_PARAM) return "api one-param" + tail;
    return "api word0=" + std::to_string(word0) + tail + " p2=" + std::to_string(p2);
}

std::string format_report_reply(const std::uint8_t* message, std::size_t size) {
    err::ByteView msg(message, size);
    err::ByteView block;
    std::uint16_t command = 0, result = 0;
    if (!first_block(msg, block, command) || command != CMD_RESPONSE ||
        !block.u16(RESPONSE_RESULT, result))
        return "reply cmd=601 none";
    return "reply cmd=601 result=" + std::to_string(result);
}

std::string format_export_reply(std::uint16_t export_command, const std::uint8_t* message,
                                std::size_t size) {
    err::ByteView msg(message, size);
    err::ByteView block;
    std::uint16_t command = 0;
    std::string line = "reply cmd=" + std::to_string(export_command);
    if (!first_block(msg, block, command) || command != CMD_RESPONSE) return line + " failed";
    return line;
}

std::string format_unexpected(std::string_view mailbox, const std::uint8_t* message,
                              std::size_t size) {
    err::ByteView msg(message, size);
    std::string line = "unexpected mbx=" + std::string(mailbox);
    std::uint16_t count = 0, command = 0;
    if (msg.u16(MSG_BLOCK_COUNT, count) && count > 0 && msg.u16(MSG_HEADER_SIZE, command))
        line += " cmd=" + std::to_string(command);
    else
        line += " cmd=none";
    return line + " size=" + std::to_string(size);
}

std::vector<std::string> ConsoleLines::add(std::string_view piece) {
    std::vector<std::string> lines;
    for (char ch : piece) {
        if (ch == '\n') {
            if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
            lines.push_back(escape_console(pending_));
            pending_.clear();
        } else {
            pending_.push_back(ch);
        }
    }
    return lines;
}

std::vector<std::string> ConsoleLines::flush() {
    std::vector<std::string> lines;
    if (!pending_.empty()) {
        if (pending_.back() == '\r') pending_.pop_back();
        lines.push_back(escape_console(pending_));
        pending_.clear();
    }
    return lines;
}

}  // namespace errsim
