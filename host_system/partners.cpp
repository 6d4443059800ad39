#include "host_system/partners.h"

#include "rtx/rtx.h"
#include "wire.h"

namespace host_system {

namespace {

// The text at block offset off, up to its NUL, never past the block.
std::string block_text(const err::ByteView& block, std::size_t off) {
    if (off == 0 || off >= block.size()) return {};
    std::size_t n = block.text_length(off, block.size() - off);
    return std::string(reinterpret_cast<const char*>(block.data() + off), n);
}

}  // namespace

BoxRequest parse_box_request(const std::uint8_t* message, std::size_t size) {
    BoxRequest box;
    const err::ByteView msg(message, size);
    std::uint16_t count = 0, command = 0, length = 0;
    if (!msg.u16(MSG_BLOCK_COUNT, count) || count == 0 ||
        !msg.u16(MSG_HEADER_SIZE + BLK_COMMAND, command) ||
        !msg.u16(MSG_HEADER_SIZE + BLK_LENGTH, length)) {
        box.problem = "no command block";
        return box;
    }
    if (command != CMD_SHOW_BOX) {
        box.problem = "command " + std::to_string(command) + " instead of 819";
        return box;
    }
    // The block, cut to its block_length and to the segment.
    const std::size_t avail = msg.size() - MSG_HEADER_SIZE;
    const err::ByteView block = msg.sub(MSG_HEADER_SIZE, length < avail ? length : avail);
    std::uint16_t title_off = 0, text_off = 0;
    if (!block.u16(BOX_BUTTON_COUNT, count) || !block.u16(BOX_FIRST_MARKED, box.first_marked) ||
        !block.u16(BOX_SECOND_MARKED, box.second_marked) || !block.u16(BOX_FLAGS, box.flags) ||
        !block.u16(BOX_TITLE_OFFSET, title_off) || !block.u16(BOX_TEXT_OFFSET, text_off)) {
        box.problem = "block shorter than its fixed part";
        return box;
    }
    box.reply_mode = msg.u16_or(MSG_REPLY_MODE, 0);
    box.reply_mbx = msg.u16_or(MSG_REPLY_MBX, 0);
    box.title = block_text(block, title_off);
    box.text = block_text(block, text_off);
    if (count > BOX_MAX_BUTTONS) count = BOX_MAX_BUTTONS;
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::size_t desc = BOX_BUTTONS + i * BOX_BUTTON_DESC_SIZE;
        std::uint16_t label_off = 0, answer_len = 0, answer_off = 0;
        if (!block.u16(desc, label_off) || !block.u16(desc + 2, answer_len) ||
            !block.u16(desc + 4, answer_off))
            break;
        BoxButton b;
        b.label = block_text(block, label_off);
        const err::ByteView answer = block.sub(answer_off, answer_len);
        if (answer.size() > 0) {
            b.answer.assign(answer.data(), answer.data() + answer.size());
            b.code = answer.u16_or(BOX_ANSWER_CODE, 0);
        }
        box.buttons.push_back(std::move(b));
    }
    box.valid = true;
    return box;
}

bool answer_box(const BoxRequest& box, std::size_t index, const char* origin, int line) {
    if (index >= box.buttons.size() || box.buttons[index].answer.empty()) return false;
    return send(box.reply_mbx, box.buttons[index].answer, origin, line);
}

void acknowledge(const void* request) {
    rtx_status status{};
    if (request) send_default_response(request, 0, &status);
}

void PartnerTasks::take(Partner partner, const Bytes& message, const void* request) {
    if (partner != Partner::ui) {
        acknowledge(request);
        return;
    }
    const BoxRequest box = parse_box_request(message);
    if (!box.wants_answer()) return;
    if (const std::optional<std::size_t> index = choose(box)) answer_box(box, *index);
}

std::optional<std::size_t> PartnerTasks::choose(const BoxRequest& box) {
    return box.first_marked < box.buttons.size() ? box.first_marked : 0;
}

}  // namespace host_system
