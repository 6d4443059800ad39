// errsim's stdout: event lines and the error task's console lines, one a line, in the order in
// which the error task caused them.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "events.h"
#include "texts.h"

namespace errsim {

class Output {
  public:
    explicit Output(bool quiet) : quiet_(quiet) {}

    // An event line; an unfinished console line before it is printed first.
    void line(const std::string& text) {
        std::lock_guard<std::mutex> lk(m_);
        flush_console_locked();
        write(text);
    }
    // A piece of the console; each line it completes is printed.
    void console(const char* text, std::size_t length) {
        std::lock_guard<std::mutex> lk(m_);
        for (const auto& l : console_.add(std::string_view(text, length))) console_line(l);
    }
    // The unfinished console line, if any.
    void flush_console() {
        std::lock_guard<std::mutex> lk(m_);
        flush_console_locked();
    }

  private:
    void flush_console_locked() {
        for (const auto& l : console_.flush()) console_line(l);
    }
    void console_line(const std::string& l) {
        if (!quiet_) write(text::kConsolePrefix + l);
    }
    static void write(const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

    std::mutex m_;
    bool quiet_;
    ConsoleLines console_;
};

}  // namespace errsim
