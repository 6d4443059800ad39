// Error texts, message boxes on the user interface, and status texts for the remote-control
// status task. Everything here runs in the error task.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "err/err_table.h"
#include "err/mb_kind.h"
#include "err/protocol.h"
#include "rtx/rtx.h"
#include "task_parts.h"
#include "task_state.h"
#include "wire.h"

namespace err {

namespace {

constexpr const char* kOrigin = "err_task";
constexpr int kLineBox = 540;
constexpr int kLineStatus = 918;

// The request has room for 5 button descriptors; an MbKind holds at most 4 buttons.
constexpr std::size_t kButtonsRead =
    MB_KIND_MAX_BUTTONS < BOX_MAX_BUTTONS ? MB_KIND_MAX_BUTTONS : BOX_MAX_BUTTONS;

std::size_t text_size(const char* text) {
    return text ? std::strlen(text) : 0;
}

// Buttons of kind that count: the first button_count entries, but never more than the kind
// holds, so a kind that claims more buttons than it has is never read past its end.
std::size_t buttons_of(const MbKind* kind) {
    return kind->button_count < kButtonsRead ? kind->button_count : kButtonsRead;
}

// Frees a segment that this task received or could not send; the status is not examined.
void give_back(std::uint16_t segment) {
    rtx_status status{};
    rtx_global_free(segment, &status);
}

// Whether a segment taken from ERROR_QMBX is the answer to the box numbered sequence: its
// first block has command 602 and both tags equal to sequence. The answer code is read from
// the block when the block holds it; a matching answer without its code counts as 0.
bool box_answer(ByteView message, std::uint16_t sequence, std::uint16_t& code) {
    std::uint16_t count = 0, command = 0, length = 0, tag1 = 0, tag2 = 0;
    if (!message.u16(MSG_BLOCK_COUNT, count) || count == 0) return false;
    if (!message.u16(MSG_HEADER_SIZE + BLK_COMMAND, command) ||
        !message.u16(MSG_HEADER_SIZE + BLK_LENGTH, length) ||
        !message.u16(MSG_HEADER_SIZE + BLK_TAG1, tag1) ||
        !message.u16(MSG_HEADER_SIZE + BLK_TAG2, tag2)) {
        return false;
    }
    if (command != CMD_BOX_ANSWER || tag1 != sequence || tag2 != sequence) return false;
    code = message.sub(MSG_HEADER_SIZE, length).u16_or(RESPONSE_RESULT, 0);
    return true;
}

}  // namespace

TemplateStep next_template_step(const char* rest) {
    TemplateStep step;
    const char* percent = std::strchr(rest, '%');
    if (percent == nullptr) {
        step.text_length = std::strlen(rest);
        step.at_end = true;
        step.rest = rest + step.text_length;
    } else if (percent[1] == 's') {
        step.text_length = std::size_t(percent - rest);
        step.place = true;
        step.rest = percent + 2;
    } else {
        // The "%" is copied with the text; the template goes on just past it.
        step.text_length = std::size_t(percent - rest) + 1;
        step.rest = percent + 1;
    }
    return step;
}

void expand_error_text(char* dest, std::uint16_t size, const char* tmpl, const char* args) {
    if (dest == nullptr || size == 0) return;
    const std::size_t limit = std::size_t(size) - 1;  // characters that fit before the zero
    std::size_t out = 0;
    // A piece is taken whole when it fits, else cut to what still fits.
    auto copy = [&](const char* piece, std::size_t n) {
        if (n > limit - out) n = limit - out;
        if (n) std::memcpy(dest + out, piece, n);
        out += n;
    };
    if (tmpl != nullptr) {
        const char* rest = tmpl;
        const char* arg = args ? args : "";
        for (;;) {
            const TemplateStep step = next_template_step(rest);
            copy(rest, step.text_length);
            if (step.place) {
                const char* dollar = std::strchr(arg, '$');
                std::size_t n = dollar ? std::size_t(dollar - arg) : std::strlen(arg);
                copy(arg, n);
                arg += dollar ? n + 1 : n;  // the "$" is used up; past the last part: empty
            }
            rest = step.rest;
            if (step.at_end || out >= limit) break;
        }
    }
    dest[out] = '\0';
}

std::size_t shown_buttons(const MbKind* kind) {
    std::size_t n = 0;
    while (n < buttons_of(kind) && kind->buttons[n] != nullptr) ++n;
    return n;
}

std::uint16_t show_message_box(const ErrTableEntry* definition, const char* text,
                               const char* title) {
    TaskState& st = task_state();
    if (definition == nullptr) return 0;

    // The kind function is called in every case; a null function, or one that yields null,
    // means a box without a kind: no buttons and the answer 0.
    MbKindFunction kind_function = st.variant_b ? definition->mb_kind_b : definition->mb_kind_a;
    const MbKind* kind = kind_function ? kind_function() : nullptr;

    if ((definition->state & ES_BOX) == 0 || !st.boxes_enabled)
        return kind ? kind->default_code : 0;
    if (!st.ui_ready) return 0;

    const std::size_t title_length = text_size(title);
    const std::size_t text_length = text_size(text);
    std::size_t size = MSG_HEADER_SIZE + BOX_VARIABLE_AREA;
    if (title_length) size += title_length + 1;
    size += text_length + 1;  // counted also for an empty text, which is not written
    if (kind) {
        for (std::size_t i = 0; i < buttons_of(kind); ++i) {
            const MbButton* button = kind->buttons[i];
            if (button) size += text_size(button->label) + 1 + BOX_ANSWER_SIZE;
        }
    }

    rtx_status status{};
    std::uint16_t segment = 0;
    old_rtx_global_alloc(&segment, std::uint32_t(size), 0, 0, &status, kOrigin, kLineBox);
    if (status.status != RTX_OK) return 0;
    ByteSpan seg(buildptr(segment, 0), rtx_segment_size(segment));
    if (!seg.has(0, size)) {
        give_back(segment);
        return 0;
    }
    // Unused descriptors and the words the layout does not name stay 0.
    seg.fill(0, 0, size);
    ByteSpan block(seg.data() + MSG_HEADER_SIZE, size - MSG_HEADER_SIZE);

    // The reply mode and mailbox follow below, once the box kind is known.
    put_header(seg, {ERR_SENDER_ID, REPLY_MODE_NONE, 0, REPLIED_NONE, REPLIED_NONE, 1});
    block.put_u16(BLK_COMMAND, CMD_SHOW_BOX);
    block.put_u16(BOX_TYPE, BOX_TYPE_VALUE);
    block.put_u16(BOX_RESERVED, 0);

    std::size_t pos = BOX_VARIABLE_AREA;
    if (title_length) {
        block.put_u16(BOX_TITLE_OFFSET, std::uint16_t(pos));
        block.put_bytes(pos, title, title_length + 1);
        pos += title_length + 1;
    }
    if (text_length) {
        block.put_u16(BOX_TEXT_OFFSET, std::uint16_t(pos));
        block.put_bytes(pos, text, text_length + 1);
        pos += text_length + 1;
    }

    std::uint16_t result = 0;
    std::uint16_t reply_mode = REPLY_MODE_NONE;
    std::uint16_t reply_mbx = 0;
    bool awaited = false;
    std::uint16_t sequence = 0;
    if (kind == nullptr) {
        block.put_u16(BOX_BUTTON_COUNT, 0);
        block.put_u16(BOX_FIRST_MARKED, 0);
        block.put_u16(BOX_SECOND_MARKED, 0);
        block.put_u16(BOX_FLAGS, BOX_FLAG_ALWAYS | BOX_FLAG_NO_BUTTONS);
    } else {
        sequence = ++st.box_sequence;  // wraps at 65536
        const bool to_api = (kind->flags & MBF_ANSWER_TO_API) != 0;
        std::uint16_t box_flags = BOX_FLAG_ALWAYS;
        std::uint16_t first_marked = 0;
        std::uint16_t second_marked = 0xFFFF;
        std::uint16_t written = 0;
        if ((kind->flags & MBF_NO_BUTTONS) != 0 || st.variant_b) {
            box_flags |= BOX_FLAG_NO_BUTTONS;
        } else {
            const std::size_t shown = shown_buttons(kind);
            for (std::size_t i = 0; i < shown; ++i) {
                const MbButton* button = kind->buttons[i];
                const char* label = button->label ? button->label : "";
                const std::size_t label_length = std::strlen(label);
                const std::size_t label_at = pos;
                const std::size_t answer_at = pos + label_length + 1;
                block.put_bytes(label_at, label, label_length + 1);
                // The complete answer the user-interface task sends back for this button.
                ByteSpan answer(block.data() + answer_at, BOX_ANSWER_SIZE);
                put_header(answer,
                           {GUI_SENDER_ID, REPLY_MODE_NONE, 0, REPLIED_NONE, REPLIED_NONE, 1});
                answer.put_u16(MSG_HEADER_SIZE + BLK_COMMAND,
                               to_api ? CMD_ASYNC_BOX_ANSWER : CMD_BOX_ANSWER);
                answer.put_u16(MSG_HEADER_SIZE + BLK_LENGTH, BOX_ANSWER_BLOCK_LENGTH);
                answer.put_u16(MSG_HEADER_SIZE + BLK_TAG1, sequence);
                answer.put_u16(MSG_HEADER_SIZE + BLK_TAG2, sequence);
                answer.put_u16(BOX_ANSWER_CODE, button->code);
                const std::size_t desc = BOX_BUTTONS + BOX_BUTTON_DESC_SIZE * i;
                block.put_u16(desc, std::uint16_t(label_at));
                block.put_u16(desc + 2, BOX_ANSWER_SIZE);
                block.put_u16(desc + 4, std::uint16_t(answer_at));
                block.put_u16(desc + 6, 0);
                if (button->code == kind->default_code) first_marked = std::uint16_t(i);
                if (button->code == kind->second_code) second_marked = std::uint16_t(i);
                pos = answer_at + BOX_ANSWER_SIZE;
                ++written;
            }
        }
        if ((kind->flags & MBF_MODAL) == 0) box_flags |= BOX_FLAG_NOT_MODAL;
        box_flags |= kind->flags & MBF_PASS_THROUGH;
        awaited = written > 0 && !to_api;
        const bool answer_later = written > 0 && to_api;
        if (awaited) {
            reply_mode = REPLY_MODE_TO_MBX;
            reply_mbx = st.error_qmbx;
        } else if (answer_later) {
            reply_mode = REPLY_MODE_TO_MBX;
            reply_mbx = st.error_mbx;
        } else {
            result = kind->default_code;
        }
        block.put_u16(BOX_BUTTON_COUNT, written);
        block.put_u16(BOX_FIRST_MARKED, first_marked);
        block.put_u16(BOX_SECOND_MARKED, second_marked);
        block.put_u16(BOX_FLAGS, box_flags);
    }
    block.put_u16(BLK_LENGTH, std::uint16_t(pos));
    seg.put_u16(MSG_REPLY_MODE, reply_mode);
    seg.put_u16(MSG_REPLY_MBX, reply_mbx);

    if (_rtx_sendmessage(st.gui_mbx, segment, 0, &status) != RTX_OK || status.status != RTX_OK) {
        give_back(segment);
        return result;
    }
    if (!awaited) return result;

    // Wait for this box's answer. Anything else that arrives on ERROR_QMBX meanwhile is given
    // back unread; a failed wait ends the box with 0 (the wait is not repeated, so a broken
    // mailbox cannot keep the task spinning here).
    for (;;) {
        std::uint16_t received = 0;
        rtx_status rs{};
        _rtx_getmessage(&received, st.error_qmbx, RTX_WAIT_FOREVER, 0, &rs);
        if (rs.status != RTX_OK) return 0;
        ByteView message(buildptr(received, 0), rtx_segment_size(received));
        std::uint16_t code = 0;
        const bool match = box_answer(message, sequence, code);
        give_back(received);
        if (match) return code;
    }
}

void send_status_text(const char* text) {
    TaskState& st = task_state();
    if (text == nullptr || text[0] == '\0') return;

    rtx_status status{};
    std::uint16_t segment = 0;
    old_rtx_global_alloc(&segment, STATUS_SEGMENT_SIZE, 0, 0, &status, kOrigin, kLineStatus);
    if (status.status != RTX_OK) return;
    ByteSpan seg(buildptr(segment, 0), rtx_segment_size(segment));
    if (!seg.has(0, STATUS_SEGMENT_SIZE)) {
        give_back(segment);
        return;
    }
    seg.fill(0, 0, STATUS_SEGMENT_SIZE);
    put_header(seg,
               {ERR_SENDER_ID, REPLY_MODE_TO_MBX, st.error_qmbx, REPLIED_NONE, REPLIED_NONE, 1});
    seg.put_u16(MSG_HEADER_SIZE + BLK_COMMAND, CMD_STATUS_TEXT);
    seg.put_u16(MSG_HEADER_SIZE + BLK_LENGTH, STATUS_BLOCK_LENGTH);
    seg.put_u16(MSG_HEADER_SIZE + BLK_TAG1, 0);
    seg.put_u16(MSG_HEADER_SIZE + BLK_TAG2, 0);
    seg.put_u16(MSG_HEADER_SIZE + STATUS_WORD, STATUS_WORD_VALUE);
    std::size_t n = 0;
    while (n < STATUS_TEXT_MAX && text[n] != '\0') ++n;  // cut to the first 30 characters
    seg.put_bytes(MSG_HEADER_SIZE + STATUS_TEXT, text, n);
    seg.put_bytes(MSG_HEADER_SIZE + STATUS_TEXT + n, "", 1);

    if (_rtx_sendmessage(st.iecstate_mbx, segment, 0, &status) != RTX_OK ||
        status.status != RTX_OK) {
        give_back(segment);
        return;
    }
    // The acknowledgement: whatever arrives first on ERROR_QMBX, given back unread.
    std::uint16_t received = 0;
    rtx_status rs{};
    _rtx_getmessage(&received, st.error_qmbx, RTX_WAIT_FOREVER, 0, &rs);
    if (rs.status == RTX_OK) give_back(received);
}

}  // namespace err
