// Notifications to the API task: a 36-byte message to API_MBX that names ERROR_MBX as the
// mailbox for the API task's answer. Every failure ends an operation silently; the error task
// goes on with the result 0.
#include <cstdint>

#include "err/protocol.h"
#include "rtx/rtx.h"
#include "task_parts.h"
#include "task_state.h"
#include "wire.h"

namespace err {

namespace {

// Allocation origin of this source's segments.
constexpr const char* kOrigin = "prjasync";
constexpr int kLineBoxAnswer = 234;
constexpr int kLineTwoParams = 331;
constexpr int kLineOneParam = 396;

// API_MBX is looked up on first use and kept once found; a failed lookup leaves 0, so the next
// call looks again.
bool api_mailbox_known() {
    std::uint16_t& api_mbx = task_state().api_mbx;
    if (api_mbx == 0) {
        rtx_status status{};
        std::uint16_t id = 0;
        rtx_searchcatalog(&id, CATALOG_API_MBX, 0, &status);
        api_mbx = status.status == RTX_OK ? id : 0;
    }
    return api_mbx != 0;
}

void send_notification(std::uint16_t word0, std::uint16_t error_nr, std::uint16_t param1,
                       std::uint16_t param2, std::uint16_t reply_mbx, int line) {
    rtx_status status{};
    std::uint16_t segment = 0;
    old_rtx_global_alloc(&segment, API_SEGMENT_SIZE, 0, 0, &status, kOrigin, line);
    if (status.status != RTX_OK) return;
    ByteSpan out(buildptr(segment, 0), rtx_segment_size(segment));
    if (!out.has(0, API_SEGMENT_SIZE)) {
        rtx_global_free(segment, &status);
        return;
    }
    // The words the layout leaves unwritten (replied_sender, replied_tag, tags, data words 1
    // to 4) are cleared, so that no bytes of an earlier segment travel.
    out.fill(0, 0, API_SEGMENT_SIZE);
    put_header(out, {ERR_SENDER_ID, REPLY_MODE_TO_MBX, reply_mbx, 0, 0, 1});
    out.put_u16(MSG_HEADER_SIZE + BLK_COMMAND, CMD_API_NOTIFY);
    out.put_u16(MSG_HEADER_SIZE + BLK_LENGTH, API_BLOCK_LENGTH);
    out.put_u16(MSG_HEADER_SIZE + API_WORD0, word0);
    out.put_u16(MSG_HEADER_SIZE + API_PARAM2, param2);
    out.put_u16(MSG_HEADER_SIZE + API_PARAM1, param1);
    out.put_u16(MSG_HEADER_SIZE + API_ERROR_NR, error_nr);
    if (_rtx_sendmessage(task_state().api_mbx, segment, 0, &status) != RTX_OK ||
        status.status != RTX_OK) {
        rtx_global_free(segment, &status);
    }
}

}  // namespace

std::uint16_t notify_api_two_params(std::uint16_t error_nr, std::uint16_t action_param1,
                                    std::uint16_t action_param2, const std::uint16_t* reply_mbx) {
    if (!api_mailbox_known()) return 0;
    send_notification(API_ERROR_TWO_PARAMS, error_nr, action_param1, action_param2,
                      reply_mbx ? *reply_mbx : 0, kLineTwoParams);
    return 0;
}

std::uint16_t notify_api_one_param(std::uint16_t error_nr, std::uint16_t action_param1,
                                   const std::uint16_t* reply_mbx) {
    if (!api_mailbox_known()) return 0;
    send_notification(API_ERROR_ONE_PARAM, error_nr, action_param1, 0, reply_mbx ? *reply_mbx : 0,
                      kLineOneParam);
    return 0;
}

void notify_api_box_answer(std::uint16_t code) {
    // No answer code has a notification: the segment is prepared and given back unsent, and
    // the API task hears nothing of box answers.
    (void)code;
    if (!api_mailbox_known()) return;
    rtx_status status{};
    std::uint16_t segment = 0;
    old_rtx_global_alloc(&segment, API_SEGMENT_SIZE, 0, 0, &status, kOrigin, kLineBoxAnswer);
    if (status.status != RTX_OK) return;
    rtx_global_free(segment, &status);
}

}  // namespace err
