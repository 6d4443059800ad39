// Report processing: what the error task does with command 601. Finds the definition, gates
// it, builds its texts, archives it, runs its action chain, passes its text to the status task,
// clears its show-once bit and answers the reporter when asked.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "err/err_table.h"
#include "err/protocol.h"
#include "log.h"
#include "registry.h"
#include "rtx/rtx.h"
#include "task_parts.h"
#include "task_state.h"
#include "wire.h"

namespace err {

namespace {

constexpr int kLineReportAnswer = 1738;

constexpr const char* kTextArchiveFailed =
    "error_task:\n-----------\nFailed to archive error nr.: %d\non log_file %s\n";

// A real chain is a handful of steps; a box kind whose default answer is itself a box action
// (possible with kinds of other modules while boxes are off) would otherwise loop for ever
// without waiting for anybody. Past this many steps the chain stops with the code it reached.
constexpr int kMaxChainSteps = 32;

constexpr std::size_t kFileChars = REPORT_FILE_SIZE;
constexpr std::size_t kInfoChars = REPORT_INFO_SIZE;
constexpr std::size_t kTextChars = kTextBufSize - 1;

// The report's fields as they arrived. A block shorter than the report's data is read as far
// as it goes: a missing line counts 0, and the file and info texts end where the block ends
// (missing bytes count as absent). Only the error number itself is required (the dispatch
// skips a report without it).
struct Report {
    std::uint16_t error_nr = 0;
    std::int32_t line = 0;
    char file[kFileChars + 1] = {};
    char info[kInfoChars + 1] = {};
};

void copy_text(ByteView block, std::size_t offset, std::size_t max_length, char* out) {
    std::size_t n = block.text_length(offset, max_length);
    if (n) std::memcpy(out, block.data() + offset, n);
    out[n] = '\0';
}

Report read_report(ByteView block) {
    Report r;
    r.error_nr = block.u16_or(REPORT_ERROR_NR, 0);
    if (!block.i32(REPORT_LINE, r.line)) r.line = 0;
    copy_text(block, REPORT_FILE, kFileChars, r.file);
    copy_text(block, REPORT_INFO, kInfoChars, r.info);
    return r;
}

// E_FindErrTablebyId's answer for error_nr, taken from the last lookup of the same number while
// the registry has not changed since (and the entry found still carries the number).
ErrTableEntry* find_definition(std::uint16_t error_nr, TaskState& st) {
    FoundDefinition& f = st.found[error_nr % kFoundDefinitions];
    const std::uint32_t generation = registry_generation();
    if (f.valid && f.error_nr == error_nr && f.generation == generation &&
        (f.definition == nullptr || f.definition->id == error_nr))
        return f.definition;
    ErrTableEntry* definition = E_FindErrTablebyId(error_nr);
    f = FoundDefinition{true, error_nr, generation, definition};
    return definition;
}

// The digits of actions 16, 17 and 18 stand after the last "$" of the info text, or at its
// start when there is none.
const char* parameter_text(const char* info) {
    const char* dollar = std::strrchr(info, '$');
    return dollar ? dollar + 1 : info;
}

std::uint16_t digit_value(char c) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(c) - '0');
}

// Working action 16: first character and third character (the second is a separator). A
// parameter text shorter than three characters is never read past its end: a missing
// character counts as "0", so its parameter is 0.
void take_params_16(const char* p, TaskState& st) {
    const std::size_t n = std::strlen(p);
    st.action_param1 = n >= 1 ? digit_value(p[0]) : 0;
    st.action_param2 = n >= 3 ? digit_value(p[2]) : 0;
}

// Working action 17 or 18: the first character, 0 for an empty text. action_param2 keeps what
// the last report left behind.
void take_params_17_18(const char* p, TaskState& st) {
    st.action_param1 = p[0] != '\0' ? digit_value(p[0]) : 0;
}

// One step of the action chain; returns the next code. Action 10 sends the parameters that
// the last report with working action 16, 17 or 18 left behind in the task state (0 before
// the first such report): they are always initialised.
std::uint16_t run_step(std::uint16_t code, const ErrTableEntry* definition, const char* text,
                       std::uint16_t error_nr, TaskState& st) {
    if (const char* title = box_step_title(code)) {
        const std::uint16_t answer = show_message_box(definition, text, title);
        // Action 17 notifies the API task whatever the answer.
        if (code != ACT_BOX_THEN_API) return answer;
    }
    switch (code) {
        case ACT_API_TWO:
        case ACT_API_TWO_INFO:
            return notify_api_two_params(error_nr, st.action_param1, st.action_param2,
                                         &st.error_mbx);
        case ACT_BOX_THEN_API:
        case ACT_API_ONE:
            return notify_api_one_param(error_nr, st.action_param1, &st.error_mbx);
        default:
            return code;
    }
}

void archive(int log_id, std::uint16_t number_for_log, int number_shown, const char* text,
             const char* component, const Report& r) {
    if (!archive_error(log_id, number_for_log, text, component, r.file, r.line)) {
        boot_printf(kTextArchiveFailed, number_shown, log_name(log_id));
    }
}

// An error number that no registered table defines goes into the system log as
// "Unknown Error ID: <number>" followed directly by as much of the info text as fits in 80
// characters. The number is shown as a signed 16-bit value (32768 as -32768).
void handle_unknown(const Report& r, TaskState& st) {
    const int shown = static_cast<std::int16_t>(r.error_nr);
    int n = std::snprintf(st.text_buf_a, kTextBufSize, "Unknown Error ID: %d", shown);
    std::size_t used = n < 0 ? 0 : static_cast<std::size_t>(n);
    if (used > kTextChars) used = kTextChars;
    std::size_t info_length = std::strlen(r.info);
    if (info_length > kTextChars - used) info_length = kTextChars - used;
    std::memcpy(st.text_buf_a + used, r.info, info_length);
    st.text_buf_a[used + info_length] = '\0';
    archive(0, r.error_nr, shown, st.text_buf_a, nullptr, r);
}

// The report answer: 22 bytes, one block with command 4 and the result.
void answer_report(ByteView message, ByteView block, std::uint16_t result) {
    std::uint16_t segment = 0;
    ByteSpan out;
    if (!begin_answer(message, RESPONSE_SIZE, kLineReportAnswer, segment, out)) return;
    out.put_u16(MSG_HEADER_SIZE + BLK_COMMAND, CMD_RESPONSE);
    out.put_u16(MSG_HEADER_SIZE + BLK_LENGTH, RESPONSE_BLOCK_LENGTH);
    out.put_u16(MSG_HEADER_SIZE + BLK_TAG1, block.u16_or(BLK_TAG1, 0));
    out.put_u16(MSG_HEADER_SIZE + BLK_TAG2, block.u16_or(BLK_TAG2, 0));
    out.put_u16(MSG_HEADER_SIZE + RESPONSE_RESULT, result);
    rtx_status status{};
    send_response(message.data(), segment, &status);
}

// Steps 3 to 9 for a known error; returns the result of the report.
std::uint16_t handle_known(ErrTableEntry* definition, const Report& r, TaskState& st) {
    const std::uint16_t flags = definition->flags;
    const std::uint16_t gate = ES_ENABLED | ES_NOT_SHOWN;
    if ((definition->state & gate) != gate) return 0;
    if ((flags & EF_SYSTEM) != 0 && !st.system_errors_enabled) return 0;

    // Texts: the archived text is always variant A's, also while variant B is in force.
    expand_error_text(st.text_buf_a, kTextBufSize, definition->text_a, r.info);
    if (st.variant_b) expand_error_text(st.text_buf_b, kTextBufSize, definition->text_b, r.info);
    const std::uint16_t action = st.variant_b ? definition->action_b : definition->action_a;
    const char* text = st.variant_b ? st.text_buf_b : st.text_buf_a;

    const char* params = parameter_text(r.info);
    if (action == ACT_API_TWO_INFO) take_params_16(params, st);
    if (action == ACT_BOX_THEN_API || action == ACT_API_ONE) take_params_17_18(params, st);

    bool archive_it = st.archive_all != 0;
    if (!archive_it) {
        archive_it = (flags & EF_ARCHIVE) != 0 && (definition->state & ES_ARCHIVE) != 0 &&
                     !(action == ACT_API_TWO_INFO && st.action_param2 == 0);
    }
    if (archive_it) {
        const int log_id = (flags & EF_SYSTEM) != 0 ? 0 : 1;
        archive(log_id, r.error_nr, definition->id, st.text_buf_a, definition->component, r);
    }

    std::uint16_t code = action;
    for (int steps = 0; is_chain_step(code); ++steps) {
        if (steps == kMaxChainSteps) {
            boot_printf(kTextChainStopped, int(definition->id), int(code));
            break;
        }
        code = run_step(code, definition, text, r.error_nr, st);
    }

    if (st.variant_b && sends_status_text(flags) && (definition->state & ES_IEC_TEXT) != 0) {
        send_status_text(text);
    }
    if ((flags & EF_SHOW_ONCE) != 0) {
        definition->state = static_cast<std::uint16_t>(definition->state & ~ES_NOT_SHOWN);
    }
    return code;
}

}  // namespace

bool is_chain_step(std::uint16_t code) {
    switch (code) {
        case ACT_BOX:
        case ACT_API_TWO:
        case ACT_BOX_ERROR:
        case ACT_BOX_WARNING:
        case ACT_API_TWO_INFO:
        case ACT_BOX_THEN_API:
        case ACT_API_ONE:
            return true;
        default:
            // Action 2 has no step of its own: it ends the chain with the result 2, like every
            // other code that is no step (0, the button codes 3 to 7, ...).
            return false;
    }
}

const char* box_step_title(std::uint16_t code) {
    switch (code) {
        case ACT_BOX:
        case ACT_BOX_THEN_API:
            return "";
        case ACT_BOX_ERROR:
            return "ERROR";
        case ACT_BOX_WARNING:
            return "WARNING";
        default:
            return nullptr;
    }
}

bool is_action_code(std::uint16_t code) {
    return code == ACT_NONE || code == ACT_STOP || is_chain_step(code);
}

bool sends_status_text(std::uint16_t flags) {
    return (flags & EF_IEC_TEXT) != 0 && (flags & EF_SYSTEM) == 0;
}

void process_report(ByteView message, ByteView block) {
    TaskState& st = task_state();
    const Report r = read_report(block);
    std::uint16_t result = 0;
    ErrTableEntry* definition = find_definition(r.error_nr, st);
    if (definition == nullptr) {
        handle_unknown(r, st);
    } else {
        result = handle_known(definition, r, st);
    }
    if (message.u16_or(MSG_REPLY_MODE, REPLY_MODE_NONE) != REPLY_MODE_NONE) {
        answer_report(message, block, result);
    }
}

}  // namespace err
