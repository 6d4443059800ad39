#include "partners.h"

#include <strings.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "err/protocol.h"
#include "script.h"

namespace errsim {

using host_system::BoxRequest;
using host_system::Bytes;
using host_system::Partner;

bool Partners::open_terminal() {
    if (!options_.interactive) return true;
    if (options_.script_from_stdin) {
        tty_ = std::fopen("/dev/tty", "r");
        if (!tty_) return false;
        prompt_in_ = tty_;
    } else {
        prompt_in_ = stdin;
    }
    return true;
}

void Partners::close_terminal() {
    if (tty_) std::fclose(tty_);
    tty_ = nullptr;
    prompt_in_ = nullptr;
}

void Partners::queue_answer(std::uint16_t code) {
    std::lock_guard<std::mutex> lk(m_);
    answers_.push_back(code);
}

void Partners::take(Partner partner, const Bytes& message, const void* request) {
    switch (partner) {
        case Partner::status:
            out_.line(format_status(message.data(), message.size()));
            // The status task acknowledges every text with a message to reply_mbx.
            host_system::acknowledge(request);
            break;
        case Partner::api:
            out_.line(format_api(message.data(), message.size()));
            // The API task answers on ERROR_MBX, where the error task drops the answer.
            host_system::acknowledge(request);
            break;
        case Partner::ui:
            if (host_system::first_command(message) == CMD_SHOW_BOX) {
                show_box(message);
            } else {
                out_.line(format_unexpected("GUI_MBX", message.data(), message.size()));
            }
            break;
    }
}

void Partners::show_box(const Bytes& message) {
    const std::uint32_t seq = ++box_count_;
    const BoxRequest box = host_system::parse_box_request(message);
    out_.line(format_box(seq, box, names_));
    if (!box.wants_answer()) return;
    const std::size_t index = pick(box, seq);
    const host_system::BoxButton& b = box.buttons[index];
    if (b.answer.empty()) {
        std::fprintf(stderr, text::kNoAnswerMessage, static_cast<unsigned>(seq), b.label.c_str());
        return;
    }
    out_.line(format_answer(seq, b.code));
    if (!host_system::answer_box(box, index, "errsim", __LINE__))
        std::fprintf(stderr, text::kAnswerNotSent, static_cast<unsigned>(seq));
}

// The button the simulated user chooses: the one queued by `answer`, else the box's first
// marked button (index 0 when that index is not a button). With --interactive the user
// chooses, and that button is what Enter takes.
std::size_t Partners::pick(const BoxRequest& box, std::uint32_t seq) {
    std::size_t index = box.first_marked < box.buttons.size() ? box.first_marked : 0;
    std::optional<std::uint16_t> wanted;
    {
        std::lock_guard<std::mutex> lk(m_);
        if (!answers_.empty()) {
            wanted = answers_.front();
            answers_.pop_front();
        }
    }
    if (wanted) {
        bool found = false;
        for (std::size_t i = 0; i < box.buttons.size() && !found; ++i) {
            if (box.buttons[i].code == *wanted) {
                index = i;
                found = true;
            }
        }
        if (!found)
            std::fprintf(stderr, text::kNoSuchButtonInBox, static_cast<unsigned>(seq),
                         button_label(*wanted), box.buttons[index].label.c_str());
    }
    if (options_.interactive) index = ask(box, seq, index);
    return index;
}

std::size_t Partners::ask(const BoxRequest& box, std::uint32_t seq, std::size_t preset) {
    FILE* o = stderr;
    std::fprintf(o, text::kBoxTop, static_cast<unsigned>(seq), std::string(40, '-').c_str());
    if (!box.title.empty()) std::fprintf(o, text::kBoxTitle, box.title.c_str());
    std::size_t start = 0;
    while (true) {
        std::size_t nl = box.text.find('\n', start);
        std::fprintf(o, text::kBoxLine, box.text.substr(start, nl - start).c_str());
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    std::fprintf(o, "%s", text::kBoxGap);
    for (std::size_t i = 0; i < box.buttons.size(); ++i)
        std::fprintf(o, text::kBoxButton, i + 1, box.buttons[i].label.c_str());
    std::fprintf(o, text::kBoxBottom, std::string(60, '-').c_str());
    for (;;) {
        const std::string range =
            box.buttons.size() == 1 ? "1" : "1-" + std::to_string(box.buttons.size());
        std::fprintf(o, text::kPrompt, range.c_str(), box.buttons[preset].label.c_str());
        std::fflush(o);
        char line[128];
        if (!prompt_in_ || !std::fgets(line, sizeof line, prompt_in_)) {
            std::fprintf(o, "\n");
            return preset;  // end of input: the default
        }
        std::string answer(line);
        while (!answer.empty() &&
               (answer.back() == '\n' || answer.back() == '\r' || answer.back() == ' '))
            answer.pop_back();
        while (!answer.empty() && answer.front() == ' ') answer.erase(0, 1);
        if (answer.empty()) return preset;
        char* end = nullptr;
        unsigned long n = std::strtoul(answer.c_str(), &end, 10);
        if (end && *end == 0 && n >= 1 && n <= box.buttons.size()) return n - 1;
        for (std::size_t i = 0; i < box.buttons.size(); ++i)
            if (strcasecmp(answer.c_str(), box.buttons[i].label.c_str()) == 0) return i;
        std::fprintf(o, text::kNoSuchButton, answer.c_str());
    }
}

}  // namespace errsim
