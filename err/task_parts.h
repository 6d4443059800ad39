// The parts of the error task: report processing, texts, message boxes, status texts and the
// notifications to the API task. They all run in the error task and work on task_state().
#pragma once

#include <cstddef>
#include <cstdint>

#include "err/err_table.h"
#include "err/mb_kind.h"
#include "wire.h"

namespace err {

// ---- Console texts of the task's own making ----
// Beside the texts of the house (start-up failure, unknown command, failed archive, erase),
// the task prints these when it meets input it cannot use or an executive that fails it:
//  - kTextMalformedMessage: the header is shorter than 12 bytes, or a block head or a
//    block_length (0, below 8, or past the end of the segment) leaves no way to find the
//    block or the next one; the rest of the message is skipped.
//  - kTextMalformedCommand: one block whose data do not fit its command (a report without its
//    error number, 603/618/619 without their words, 610/611 without a file name ended inside
//    the block); that block is skipped and the walk goes on with the next one. An erase list
//    (616/617) is never skipped: the numbers that the block holds are erased.
//  - kTextReceiveFailed: a wait on ERROR_MBX ended with a failure status (see error_task.cpp).
//  - kTextChainStopped: an action chain ran more steps than any real chain needs.
// "Command" and "Sender ID" are printed as unsigned 16-bit values, 0 when they are not in the
// segment at all.
inline constexpr const char* kTextMalformedMessage =
    "error_task:\n-----------\nMalformed message skipped\nCommand:   %d\nSender ID: %d\n";
inline constexpr const char* kTextMalformedCommand =
    "error_task:\n-----------\nMalformed command skipped\nCommand:   %d\nSender ID: %d\n";
inline constexpr const char* kTextReceiveFailed =
    "error_task:\n-----------\nFailed to receive message\nrtx_status.status:     %04x\n";
inline constexpr const char* kTextChainStopped =
    "error_task:\n-----------\nAction chain stopped\nError nr.: %d\nAction:    %d\n";

// ---- Answers ----
// Allocates an answer of size bytes (at least the 12-byte header) for the received message,
// with origin "err_task" and line, and fills its header: sender 5505, no reply wanted,
// replied_sender and replied_tag from the request, one block. The rest is zero. Returns false
// (nothing to free, nothing sent) when no segment could be had; otherwise the caller fills the
// block and hands the segment to send_response, which takes it over.
bool begin_answer(ByteView message, std::size_t size, int line, std::uint16_t& segment,
                  ByteSpan& out);

// ---- The action table ----
// Whether code is a step of the action chain (1, 10, 12, 13, 16, 17, 18). Every other code
// ends the chain and is its result.
bool is_chain_step(std::uint16_t code);
// The title of the message box that step code shows ("" for none, "ERROR", "WARNING"), or null
// when the step shows no box.
const char* box_step_title(std::uint16_t code);
// Whether code is an action code that the action table knows: no action (0), the stop code (2)
// or a chain step. Any other code in a table ends the chain at once with itself as the result.
bool is_action_code(std::uint16_t code);
// Whether an error with these flags sends its text to the status task in variant B: a user
// error with EF_IEC_TEXT (a system error's text never goes there).
bool sends_status_text(std::uint16_t flags);

// ---- Report processing (command 601) ----
// message: the whole received segment (its header is at least 12 bytes); block: the 601
// block, bounded by its block_length and the segment. Answers the reporter itself when the
// header asks for an answer.
void process_report(ByteView message, ByteView block);

// ---- Error texts, message boxes, status texts ----
// One step of reading an error text template: the ordinary text up to the next "%" and what
// that "%" is. A "%" followed by "s" is a parameter place; any other "%" is ordinary text (it
// is counted in text_length), and so is the character after it unless that is a "%" itself.
struct TemplateStep {
    std::size_t text_length = 0;  // characters of ordinary text from the step's start
    bool place = false;           // a parameter place follows the text
    bool at_end = false;          // the template ends after the text
    const char* rest = nullptr;   // where the next step starts (after the place or the "%")
};
TemplateStep next_template_step(const char* rest);

// Expands template into dest (size bytes, always zero-terminated, at most size - 1
// characters): each "%s" takes the next "$"-separated part of args. Null template: empty text;
// null args: no arguments.
void expand_error_text(char* dest, std::uint16_t size, const char* tmpl, const char* args);

// The buttons that a box of kind shows: the first button_count entries of its buttons, never
// more than a kind holds, up to the first absent one.
std::size_t shown_buttons(const MbKind* kind);

// Asks the user-interface task for a message box for definition, with text and title (empty
// or null: none). Returns the answer code (the chosen button's code, the kind's default, or 0).
std::uint16_t show_message_box(const ErrTableEntry* definition, const char* text,
                               const char* title);

// Hands text (cut to 30 characters) to the remote-control status task and waits for its
// acknowledgement. An empty text sends nothing.
void send_status_text(const char* text);

// ---- Notifications to the API task ----
// Both return 0, the next action code; every failure ends them silently.
std::uint16_t notify_api_two_params(std::uint16_t error_nr, std::uint16_t action_param1,
                                    std::uint16_t action_param2, const std::uint16_t* reply_mbx);
std::uint16_t notify_api_one_param(std::uint16_t error_nr, std::uint16_t action_param1,
                                   const std::uint16_t* reply_mbx);
// The answer of a box whose answer goes to the API side (command 618): no answer code has a
// notification, so nothing is sent.
void notify_api_box_answer(std::uint16_t code);

}  // namespace err
