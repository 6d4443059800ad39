// fuzz_script: any bytes as an errsim script, parsed whole.
//
// Checks beside "no crash, no overrun": a script that parses has commands in line order with
// line numbers inside the text, button answers of a known button, and tables whose module
// numbers are unique; a script that fails names a line inside the text and a message.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    int lines = 1;
    for (char c : text) lines += c == '\n';

    const errsim::ParseResult result = errsim::parse_script(text);
    if (result.error) {
        if (result.error->line < 0 || result.error->line > lines)
            fuzzsup::fail("error line outside the script");
        if (result.error->message.empty()) fuzzsup::fail("error without a message");
        return 0;
    }
    int last = 0;
    for (const errsim::Command& c : result.script.commands) {
        if (c.line < 1 || c.line > lines) fuzzsup::fail("command line outside the script");
        if (c.line < last) fuzzsup::fail("commands out of line order");
        last = c.line;
        if (c.op == errsim::Op::Answer && errsim::button_label(c.value) == nullptr)
            fuzzsup::fail("answer with an unknown button");
    }
    std::set<std::uint16_t> modules;
    for (const errsim::TableDef& t : result.script.tables) {
        if (!modules.insert(t.module).second) fuzzsup::fail("module listed twice");
        for (const errsim::EntryDef& e : t.entries) {
            if (e.line < 1 || e.line > lines) fuzzsup::fail("define line outside the script");
        }
    }
    return 0;
}
