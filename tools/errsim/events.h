// Event lines of errsim: what the simulated tasks saw, one event a line on stdout.
//
// The functions here are pure: they read received message bytes (never past the segment or
// the block) and format them. docs/errsim.md is the contract for every line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host_system/partners.h"

namespace errsim {

// A text with C escapes for '"', '\\', '\n', '\r', '\t' and octal "\ooo" for any other byte
// below 0x20 and 0x7F, so that it stays on one line and reads back with the script's escapes.
std::string escape_text(std::string_view text);
// A console line: only control characters are escaped (quotes and backslashes stay as printed).
std::string escape_console(std::string_view text);

// A message-box request (command 819) as the simulated user interface reads it.
using host_system::BoxButton;
using host_system::BoxRequest;
using host_system::parse_box_request;

// Mailbox ids that the reply= field names.
struct MailboxNames {
    std::uint16_t error_mbx = 0;
    std::uint16_t error_qmbx = 0;
};

// box seq=N title="T" text="X" buttons=OK,CANCEL first=N second=N flags=0xNN reply=none|qmbx|mbx
std::string format_box(std::uint32_t seq, const BoxRequest& box, const MailboxNames& names);
// answer seq=N code=N
std::string format_answer(std::uint32_t seq, std::uint16_t code);
// status "TEXT" from a command 1200 message; "status invalid" when unreadable.
std::string format_status(const std::uint8_t* message, std::size_t size);
// api two-params nr=N p1=N p2=N | api one-param nr=N p1=N from a command 201 message.
std::string format_api(const std::uint8_t* message, std::size_t size);
// reply cmd=601 result=N, from the answer to a report (or "reply cmd=601 none" when the
// answer carries no result block: the task gave only its default response).
std::string format_report_reply(const std::uint8_t* message, std::size_t size);
// reply cmd=610 (or 611) for an export answer; "reply cmd=610 failed" for a default response.
std::string format_export_reply(std::uint16_t command, const std::uint8_t* message,
                                std::size_t size);
// Any other message on a simulated task's mailbox: "unexpected mbx=NAME cmd=N size=N".
std::string format_unexpected(std::string_view mailbox, const std::uint8_t* message,
                              std::size_t size);

// Splits console output into lines: pieces go in, complete lines come out. flush() returns
// the unfinished rest as a line (if any).
class ConsoleLines {
  public:
    std::vector<std::string> add(std::string_view piece);
    std::vector<std::string> flush();

  private:
    std::string pending_;
};

}  // namespace errsim
