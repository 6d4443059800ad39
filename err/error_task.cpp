// The error task: start-up, main loop and command dispatch.
//
// Messages come from other tasks and are not trusted: every read goes through a ByteView that
// is bounded by the segment's size (rtx_segment_size) and, inside a block, by the block's
// length. What cannot be read is skipped with one of the texts listed in task_parts.h; the
// task keeps running, and every message still gets the default response and is freed.
#include <cstddef>
#include <cstdint>

#include "err/err_table.h"
#include "err/protocol.h"
#include "error_task.h"
#include "log.h"
#include "rtx/rtx.h"
#include "task_parts.h"
#include "task_state.h"
#include "wire.h"

namespace err {

namespace {

constexpr const char* kOrigin = "err_task";
constexpr int kLineExportUser = 1850;
constexpr int kLineExportSystem = 1897;

constexpr const char* kTextSuspending = "Suspending Error Task\n---------------------\n";
constexpr const char* kTextUnknownCommand =
    "Error Task:\n-----------\nUnknown Command received\nCommand:   %d\nSender ID: %d\n";
constexpr const char* kTextEraseAllFailed =
    "error_task:\n-----------\nFailed to erase all errors\non log_file %s\n";
constexpr const char* kTextEraseSelectedFailed =
    "error_task:\n-----------\nFailed to erase selected errors\non log_file %s\n";

// A failed wait on ERROR_MBX never processes a message. The task prints the failure and waits
// again, but first pauses (a timed wait on a semaphore of its own that nobody gives), 50 ms
// after the first failure in a row and twice as long after each further one. After
// kMaxReceiveFailures failures in a row it suspends itself, like a failed start-up; once
// resumed, every further failure suspends it again until a wait succeeds. So a mailbox that
// keeps failing can never make the task spin. RTX_E_SHUTDOWN means that the executive is
// ending: the task prints nothing and suspends itself, and the executive ends its thread there.
constexpr int kMaxReceiveFailures = 5;
constexpr std::int32_t kFirstPauseMs = 50;

class ReceiveRetry {
  public:
    void succeeded() { failures_ = 0; }
    void failed(std::uint16_t status_word) {
        rtx_status status{};
        if (status_word == RTX_E_SHUTDOWN) {
            rtx_suspendtask(0, &status);
        } else {
            boot_printf(kTextReceiveFailed, unsigned(status_word));
        }
        if (failures_ < kMaxReceiveFailures) {
            pause(kFirstPauseMs << failures_);
            ++failures_;
            return;
        }
        boot_printf("%s", kTextSuspending);
        rtx_suspendtask(0, &status);
        pause(kFirstPauseMs);  // in case the suspension itself failed at once
    }

  private:
    void pause(std::int32_t ms) {
        rtx_status status{};
        if (!have_sema_) {
            rtx_createsema(&sema_, 0, 1, 0, &status);
            have_sema_ = status.status == RTX_OK;
            if (!have_sema_) return;
        }
        rtx_getsema(sema_, ms, &status);  // nobody gives it: this only times out
    }

    int failures_ = 0;
    bool have_sema_ = false;
    std::uint16_t sema_ = 0;
};

void reset_switches(TaskState& st) {
    st.ui_ready = false;
    st.variant_b = false;
    st.boxes_enabled = true;
    st.system_errors_enabled = true;
}

void look_up(std::uint16_t& token, const char* counted_name, rtx_status& status) {
    status = rtx_status{};
    std::uint16_t id = 0;
    rtx_searchcatalog(&id, counted_name, 0, &status);
    token = id;
    if (status.status != RTX_OK) startup_failure(&status);
}

// Commands 610 and 611: export a log into the archive file named from block byte 10. On
// success the request is answered with a copy of its block whose command is 4, and then the
// show-once errors of that log are armed again; both are left out when the answer segment
// cannot be allocated.
void export_command(ByteView message, ByteView block, int log_id) {
    const char* name = reinterpret_cast<const char*>(block.data() + EXPORT_FILE_NAME);
    if (!export_log(log_id, name)) return;

    std::uint16_t segment = 0;
    ByteSpan out;
    if (!begin_answer(message, MSG_HEADER_SIZE + block.size(),
                      log_id == 0 ? kLineExportSystem : kLineExportUser, segment, out)) {
        return;
    }
    out.put_bytes(MSG_HEADER_SIZE, block.data(), block.size());
    out.put_u16(MSG_HEADER_SIZE + BLK_COMMAND, CMD_RESPONSE);
    rtx_status status{};
    send_response(message.data(), segment, &status);
    E_enable_show_once_flag(log_id == 0 ? 0 : 1);
}

// Whether block carries the data that its command needs. Only commands with data are checked.
bool block_fits_command(std::uint16_t command, ByteView block) {
    switch (command) {
        case CMD_REPORT_ERROR:
            return block.has(REPORT_ERROR_NR, 2);
        case CMD_SET_ERROR_STATE:
            return block.has(SET_STATE_OR_MASK, 2);
        case CMD_ASYNC_BOX_ANSWER:
            return block.has(ASYNC_ANSWER_CODE, 2);
        case CMD_ARCHIVE_ALL:
            return block.has(ARCHIVE_ALL_VALUE, 2);
        case CMD_EXPORT_USER_LOG:
        case CMD_EXPORT_SYSTEM_LOG:
            // The file name must end inside the block.
            return block.size() > EXPORT_FILE_NAME &&
                   block.text_length(EXPORT_FILE_NAME, block.size()) <
                       block.size() - EXPORT_FILE_NAME;
        default:
            // 616/617 included: erase_selected_errors reads no more numbers than the block
            // holds and erases those.
            return true;
    }
}

void dispatch_block(ByteView message, ByteView block, std::uint16_t command) {
    TaskState& st = task_state();
    switch (command) {
        case CMD_RESPONSE:
            break;  // an answer sent to the task is dropped
        case CMD_RESET_SWITCHES:
            reset_switches(st);
            break;
        case CMD_REPORT_ERROR:
            process_report(message, block);
            break;
        case CMD_SET_ERROR_STATE: {
            ErrTableEntry* definition = E_FindErrTablebyId(block.u16_or(SET_STATE_ERROR_NR, 0));
            if (definition != nullptr) {
                definition->state = static_cast<std::uint16_t>(
                    (definition->state & block.u16_or(SET_STATE_AND_MASK, 0xFFFF)) |
                    block.u16_or(SET_STATE_OR_MASK, 0));
            }
            break;
        }
        case CMD_BOXES_ON:
            st.boxes_enabled = true;
            break;
        case CMD_BOXES_OFF:
            st.boxes_enabled = false;
            break;
        case CMD_UI_READY:
            st.ui_ready = true;
            break;
        case CMD_UI_NOT_READY:
            st.ui_ready = false;
            break;
        case CMD_VARIANT_A:
            st.variant_b = false;
            break;
        case CMD_VARIANT_B:
            st.variant_b = true;
            break;
        case CMD_EXPORT_USER_LOG:
            export_command(message, block, 1);
            break;
        case CMD_EXPORT_SYSTEM_LOG:
            export_command(message, block, 0);
            break;
        case CMD_SYSTEM_ERR_ON:
            st.system_errors_enabled = true;
            break;
        case CMD_SYSTEM_ERR_OFF:
            st.system_errors_enabled = false;
            break;
        case CMD_ERASE_ALL_USER:
        case CMD_ERASE_ALL_SYSTEM: {
            const int log_id = command == CMD_ERASE_ALL_USER ? 1 : 0;
            if (!erase_all_errors(log_id)) boot_printf(kTextEraseAllFailed, log_name(log_id));
            break;
        }
        case CMD_ERASE_SELECTED_USER:
        case CMD_ERASE_SELECTED_SYSTEM: {
            const int log_id = command == CMD_ERASE_SELECTED_USER ? 1 : 0;
            if (!erase_selected_errors(log_id, block.data(), block.size())) {
                boot_printf(kTextEraseSelectedFailed, log_name(log_id));
            }
            break;
        }
        case CMD_ASYNC_BOX_ANSWER:
            notify_api_box_answer(block.u16_or(ASYNC_ANSWER_CODE, 0));
            break;
        case CMD_ARCHIVE_ALL:
            st.archive_all = block.u16_or(ARCHIVE_ALL_VALUE, 0);
            break;
        default:  // 602 included: box answers belong on ERROR_QMBX
            boot_printf(kTextUnknownCommand, int(command), int(message.u16_or(MSG_SENDER_ID, 0)));
            break;
    }
}

}  // namespace

void startup_failure(const rtx_status* status) {
    boot_printf(
        "Error Task Initialization Error\n-------------------------------\nrtx_status.status:     "
        "%04x\n",
        unsigned(status ? status->status : 0));
    boot_printf("%s", kTextSuspending);
    rtx_status suspend_status{};
    rtx_suspendtask(0, &suspend_status);
    // Resumed: the caller goes on with the next start-up step.
}

bool begin_answer(ByteView message, std::size_t size, int line, std::uint16_t& segment,
                  ByteSpan& out) {
    rtx_status status{};
    old_rtx_global_alloc(&segment, std::uint32_t(size), 0, 0, &status, kOrigin, line);
    if (status.status != RTX_OK) return false;
    out = ByteSpan(buildptr(segment, 0), rtx_segment_size(segment));
    if (size < MSG_HEADER_SIZE || !out.has(0, size)) {
        rtx_global_free(segment, &status);
        return false;
    }
    out.fill(0, 0, size);
    put_header(out, {ERR_SENDER_ID, REPLY_MODE_NONE, 0, message.u16_or(MSG_SENDER_ID, 0),
                     message.u16_or(MSG_REPLIED_TAG, 0), 1});
    return true;
}

void dispatch_message(const std::uint8_t* message_bytes, std::size_t size) {
    const ByteView message(message_bytes, size);
    const int sender = message.u16_or(MSG_SENDER_ID, 0);
    std::uint16_t block_count = 0;
    if (!message.has(0, MSG_HEADER_SIZE) || !message.u16(MSG_BLOCK_COUNT, block_count)) {
        boot_printf(kTextMalformedMessage, 0, sender);
        return;
    }
    std::size_t offset = MSG_HEADER_SIZE;
    for (std::uint16_t i = 0; i < block_count; ++i) {
        std::uint16_t command = 0;
        std::uint16_t length = 0;
        const bool head = message.u16(offset + BLK_COMMAND, command) &&
                          message.u16(offset + BLK_LENGTH, length) &&
                          message.has(offset, BLK_HEAD_SIZE);
        if (!head || length < BLK_HEAD_SIZE || !message.has(offset, length)) {
            // No way to find this block's end or the next block: the rest is skipped.
            boot_printf(kTextMalformedMessage, int(command), sender);
            return;
        }
        const ByteView block = message.sub(offset, length);
        if (block_fits_command(command, block)) {
            dispatch_block(message, block, command);
        } else {
            boot_printf(kTextMalformedCommand, int(command), sender);
        }
        offset += length;
    }
}

extern "C" void error_task(void) {
    TaskState& st = task_state();

    // Start-up. Each failure prints its status and suspends the task; once resumed, the task
    // goes on with the next step.
    rtx_status status{};
    look_up(st.error_mbx, CATALOG_ERROR_MBX, status);
    look_up(st.error_qmbx, CATALOG_ERROR_QMBX, status);
    look_up(st.gui_mbx, CATALOG_GUI_MBX, status);
    look_up(st.iecstate_mbx, CATALOG_IECSTATE_MBX, status);
    // The user log is set up only when the system log is; a failure shows the status of the
    // last catalog lookup.
    if (!init_log_file(0) || !init_log_file(1)) startup_failure(&status);
    reset_switches(st);

    ReceiveRetry retry;
    for (;;) {
        std::uint16_t segment = 0;
        rtx_status receive_status{};
        _rtx_getmessage(&segment, st.error_mbx, RTX_WAIT_FOREVER, 0, &receive_status);
        if (receive_status.status != RTX_OK) {
            retry.failed(receive_status.status);
            continue;
        }
        retry.succeeded();

        const std::uint8_t* message = static_cast<const std::uint8_t*>(buildptr(segment, 0));
        const std::size_t size = message ? rtx_segment_size(segment) : 0;
        dispatch_message(message, size);
        rtx_status done{};
        if (message != nullptr) send_default_response(message, ERR_SENDER_ID, &done);
        rtx_global_free(segment, &done);
    }
}

}  // namespace err
