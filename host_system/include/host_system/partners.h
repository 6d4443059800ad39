// The error task's partner tasks on the host: the user interface on GUI_MBX, the remote-control
// status task on IECSTATE_MBX and the API task on API_MBX. A World runs them (world.h); what
// they do with each message is a PartnerTasks object's choice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host_system/messages.h"

namespace host_system {

enum class Partner { ui, status, api };

// ---- Message-box requests (command 819) ----
struct BoxButton {
    std::string label;
    Bytes answer;            // the embedded answer message (empty when unreadable)
    std::uint16_t code = 0;  // answer code at answer byte 20 (0 when unreadable)
};

struct BoxRequest {
    bool valid = false;   // false: not an 819 request with a readable fixed part
    std::string problem;  // why not valid
    std::uint16_t reply_mode = 0;
    std::uint16_t reply_mbx = 0;
    std::uint16_t first_marked = 0;
    std::uint16_t second_marked = 0;
    std::uint16_t flags = 0;
    std::string title;
    std::string text;
    std::vector<BoxButton> buttons;

    // A box whose answer someone waits for: the awaited ones (reply to ERROR_QMBX) and those
    // whose answer goes to the API side (reply to ERROR_MBX). Others get none.
    bool wants_answer() const {
        return valid && !buttons.empty() && reply_mode == REPLY_MODE_TO_MBX;
    }
};

// Reads a box request, never past the segment or the block.
BoxRequest parse_box_request(const std::uint8_t* message, std::size_t size);
inline BoxRequest parse_box_request(const Bytes& message) {
    return parse_box_request(message.data(), message.size());
}

// Sends the embedded answer of button index to the box's reply mailbox; false when the button
// has no answer or the executive refused it.
bool answer_box(const BoxRequest& box, std::size_t index, const char* origin = "host_system",
                int line = 0);
// Acknowledges a request as the status and API tasks do: the executive's default response
// (sender 0) to its reply mailbox when it asks for one.
void acknowledge(const void* request);

// What the partner tasks do with what they take. The standard: the user interface answers a
// box that wants an answer with choose()'s button, the status and API tasks acknowledge.
class PartnerTasks {
  public:
    virtual ~PartnerTasks() = default;
    // Called in the partner's thread with each message it takes; request is the received
    // segment, valid during the call. With one mailbox for all three (PartnerLayout::shared) a
    // status text (1200) goes to the status task, a notification (201) to the API task and
    // anything else to the user interface.
    virtual void take(Partner partner, const Bytes& message, const void* request);

  protected:
    // The button whose answer the user interface sends to a box that wants one; none: no
    // answer. The standard: the first marked button, else the first.
    virtual std::optional<std::size_t> choose(const BoxRequest& box);
};

}  // namespace host_system
