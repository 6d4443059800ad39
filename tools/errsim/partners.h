// errsim's partner tasks: the simulated user interface, status task and API task print what
// they take, one event a line, and answer as the real ones do. They serve one mailbox, entered
// in the catalog as GUI_MBX, IECSTATE_MBX and API_MBX (host_system::PartnerLayout::shared), so
// their events come in exactly the order in which the error task sent them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>

#include "events.h"
#include "host_system/partners.h"
#include "output.h"
#include "sim.h"

namespace errsim {

class Partners : public host_system::PartnerTasks {
  public:
    Partners(Output& out, const Options& options) : out_(out), options_(options) {}
    ~Partners() override { close_terminal(); }

    // With --interactive: where the answers are read (/dev/tty when the script comes from
    // stdin). False when that terminal cannot be opened.
    bool open_terminal();
    void close_terminal();
    // The mailboxes that the reply= field of a box line names.
    void set_mailboxes(const MailboxNames& names) { names_ = names; }
    // The button code that the next box with buttons is answered with (`answer`).
    void queue_answer(std::uint16_t code);

    void take(host_system::Partner partner, const host_system::Bytes& message,
              const void* request) override;

  private:
    void show_box(const host_system::Bytes& message);
    std::size_t pick(const host_system::BoxRequest& box, std::uint32_t seq);
    std::size_t ask(const host_system::BoxRequest& box, std::uint32_t seq, std::size_t preset);

    Output& out_;
    const Options& options_;
    MailboxNames names_;
    std::mutex m_;
    std::deque<std::uint16_t> answers_;
    std::uint32_t box_count_ = 0;  // touched only by the partners' thread
    FILE* tty_ = nullptr;
    FILE* prompt_in_ = nullptr;
};

}  // namespace errsim
