// The errsim script parser: commands, texts, numbers, and errors that name their line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "../tools/errsim/script.h"

using errsim::parse_script;

namespace {

// The error message of a script that must fail, as "N: message" with its line number N.
std::string error_of(const std::string& text) {
    auto r = parse_script(text);
    if (!r.error) return "no error";
    return std::to_string(r.error->line) + ": " + r.error->message;
}

std::string hex(unsigned v, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, v);
    return buf;
}

std::string opt(const std::optional<std::string>& s) {
    return s ? "\"" + *s + "\"" : "-";
}

// One define line as "LINE: ID FLAGS A/B TEXT_A TEXT_B COMPONENT KIND_A KIND_B".
std::string describe(const errsim::EntryDef& e) {
    return std::to_string(e.line) + ": " + std::to_string(e.id) + " 0x" + hex(e.flags, 2) + " " +
           std::to_string(e.action_a) + "/" + std::to_string(e.action_b) + " \"" + e.text_a +
           "\" " + opt(e.text_b) + " " + opt(e.component) + " " + opt(e.kind_a) + " " +
           opt(e.kind_b);
}

// One command as "LINE: op" followed by every field that is not at its default.
std::string describe(const errsim::Command& c) {
    static const char* const kOps[] = {
        "report", "boxes", "ui",     "variant", "system-errors", "archive-all",
        "reset",  "state", "export", "erase",   "answer",        "cmd",
        "raw",    "sync",  "show",   "echo",    "module-call"};
    std::string s = std::to_string(c.line) + ": " + kOps[static_cast<int>(c.op)];
    if (c.id != 0) s += " id=" + std::to_string(c.id);
    if (c.info) s += " info=" + opt(c.info);
    if (c.file) s += " file=" + opt(c.file);
    if (c.source_line) s += " line=" + std::to_string(*c.source_line);
    if (c.reply) s += " reply";
    if (c.on) s += " on";
    if (c.value != 0) s += " value=" + std::to_string(c.value);
    if (c.and_mask != 0 || c.or_mask != 0)
        s += " masks=" + hex(c.and_mask, 4) + "/" + hex(c.or_mask, 4);
    if (c.log == errsim::LogSel::System) s += " system";
    if (c.all) s += " all";
    for (std::size_t i = 0; i < c.records.size(); ++i)
        s += (i == 0 ? " records=" : ",") + std::to_string(c.records[i]);
    if (!c.text.empty()) s += " text=\"" + c.text + "\"";
    if (!c.bytes.empty()) s += " bytes=";
    for (std::uint8_t b : c.bytes) s += hex(b, 2);
    return s;
}

// The commands of a script that must parse, one description each.
std::vector<std::string> commands_of(const std::string& text) {
    auto r = parse_script(text);
    EXPECT_FALSE(r.error) << r.error->message;
    std::vector<std::string> out;
    for (const auto& c : r.script.commands) out.push_back(describe(c));
    return out;
}

using Lines = std::vector<std::string>;

}  // namespace

// Define lines gather into one table per module, in order of each module's first line.
TEST(ErrsimScript, DefineLinesFormOneTablePerModuleInLineOrder) {
    auto r = parse_script(
        "# tables\n"
        "define 5 100 0x03 12 0 \"Pump %s failed\" - \"PUMP\" mb_ok_cancel -\n"
        "define 7 200 SYSTEM|ARCHIVE 0 0 \"B\" \"b\" - - mb_auto_box\n"
        "report 100\n"
        "define 5 101 SHOW_ONCE|0x08 1 2 \"C\" \"c\" \"X\" mb_clear_close mb_ok\n");
    ASSERT_FALSE(r.error) << r.error->message;
    Lines tables;
    for (const auto& t : r.script.tables) {
        tables.push_back("module " + std::to_string(t.module));
        for (const auto& e : t.entries) tables.push_back(describe(e));
    }
    EXPECT_EQ(tables, (Lines{"module 5",
                             "2: 100 0x03 12/0 \"Pump %s failed\" - \"PUMP\" \"mb_ok_cancel\" -",
                             "5: 101 0x0C 1/2 \"C\" \"c\" \"X\" \"mb_clear_close\" \"mb_ok\"",
                             "module 7", "3: 200 0x03 0/0 \"B\" \"b\" - - \"mb_auto_box\""}));
    ASSERT_EQ(r.script.commands.size(), 1u);
    EXPECT_EQ(describe(r.script.commands[0]), "4: report id=100");

    for (const char* kind : errsim::kMbKindNames) {
        auto k = parse_script(std::string("define 3 1 0 0 0 \"t\" - - ") + kind + " " + kind);
        ASSERT_FALSE(k.error) << kind << ": " << k.error->message;
        EXPECT_EQ(k.script.tables[0].entries[0].kind_a, kind);
    }
}

// Every command word with its operands, including the report options in any order.
TEST(ErrsimScript, CommandsAndTheirOperands) {
    EXPECT_EQ(
        commands_of("report 42\n"
                    "report 0x2A \"a$b\" file=\"src/x.c\" line=-7 reply\n"
                    "report 65535 reply line=0x10\n"),
        (Lines{"1: report id=42", "2: report id=42 info=\"a$b\" file=\"src/x.c\" line=-7 reply",
               "3: report id=65535 line=16 reply"}));
    EXPECT_EQ(commands_of("boxes off\nboxes on\nui ready\nui not-ready\nvariant b\nvariant a\n"
                          "system-errors off\narchive-all 0x1\nreset\nstate 65001 0xFFEF 0\n"
                          "export user \"\\\\LOG\\\\USER.ARC\"\nerase system all\n"
                          "erase user 3,4, 25\nanswer cancel\nsync\nshow system\necho \"hi\"\n"
                          "module-call example_fail\n"),
              (Lines{"1: boxes", "2: boxes on", "3: ui on", "4: ui", "5: variant on", "6: variant",
                     "7: system-errors", "8: archive-all value=1", "9: reset",
                     "10: state id=65001 masks=FFEF/0000", "11: export text=\"\\LOG\\USER.ARC\"",
                     "12: erase system all", "13: erase records=3,4,25", "14: answer value=4",
                     "15: sync", "16: show system", "17: echo text=\"hi\"",
                     "18: module-call text=\"example_fail\""}));
    // cmd: the words and texts become the block's data bytes; raw: the whole segment.
    EXPECT_EQ(
        commands_of("cmd 603 65001 0xFFEF 0\ncmd 610 0 \"A.ARC\"\ncmd 600\n"
                    "raw 0000 0000 00 00 0000 0000 0100 5802 0800 0000\n"),
        (Lines{"1: cmd value=603 bytes=E9FDEFFF0000", "2: cmd value=610 bytes=0000412E41524300",
               "3: cmd value=600", "4: raw bytes=000000000000000000000100580208000000"}));
}

// Escapes inside texts; '#' starts a comment only outside a text.
TEST(ErrsimScript, TextEscapesAndComments) {
    EXPECT_EQ(
        commands_of("echo \"a\\nb\\t\\\"q\\\" \\\\ \\x41\\101\\7 # not a comment\"  # a comment\n"
                    "   # only a comment\n"
                    "\n"
                    "echo \"\\xfF\\377\"#tight comment\n"),
        (Lines{"1: echo text=\"a\nb\t\"q\" \\ AA\a # not a comment\"",
               "4: echo text=\"\xff\xff\""}));
}

// Numbers: decimal or 0x hex, negative only where the range allows it.
TEST(ErrsimScript, NumbersDecimalAndHex) {
    auto number = [](const char* text, long long min = 0, long long max = 65535) {
        long long v = 0;
        std::string why;
        const bool ok = errsim::parse_number(text, min, max, v, why);
        EXPECT_EQ(ok, why.empty()) << text;
        return ok ? std::to_string(v) : why;
    };
    EXPECT_EQ(number("0"), "0");
    EXPECT_EQ(number("65535"), "65535");
    EXPECT_EQ(number("0xfFfF"), "65535");
    EXPECT_EQ(number("0X10"), "16");
    EXPECT_EQ(number("-0x10", -100, 100), "-16");
    EXPECT_EQ(number("65536"), "65536 out of range (0 to 65535)");
    EXPECT_EQ(number("-1"), "'-1' is not a number");
    EXPECT_EQ(number("0x"), "'0x' is not a number");
    EXPECT_EQ(number("12a"), "'12a' is not a number");
    EXPECT_EQ(number("99999999999999999999999"),
              "99999999999999999999999 out of range (0 to 65535)");
    EXPECT_EQ(number(""), "'' is not a number");
}

// The first error ends the parse and names its line.
TEST(ErrsimScript, ErrorsNameTheirLine) {
    const std::string tail = " 0 0 \"T\" - - - -";
    const std::pair<std::string, const char*> cases[] = {
        {"sync\n\nrepot 5\n", "3: unknown command 'repot'"},
        {"define 3 1 0 0 0 \"T\" - - - -\nbad\nworse\n", "2: unknown command 'bad'"},
        {"report\n", "1: report: missing ID"},
        {"report 70000", "1: report: ID 70000 out of range (0 to 65535)"},
        {"report 5 \"a\" \"b\"", "1: report: more than one INFO text"},
        {"report 5 reply \"a\"", "1: report: INFO must come right after ID"},
        {"report 5 line=x", "1: report: line= 'x' is not a number"},
        {"report 5 file=x.c", "1: report: file= needs a text in double quotes"},
        {"report 5 bogus",
         "1: report: unexpected 'bogus' (expected \"INFO\", file=\"F\", line=N or reply)"},
        {"echo \"abc", "1: unterminated text (missing closing \")"},
        {"echo \"a\\qb\"", "1: unknown escape '\\q'"},
        {"echo \"a\\0b\"", "1: a text cannot hold a NUL byte"},
        {"echo \"a\"b", "1: a text must be followed by a blank"},
        {"echo abc", "1: echo: TEXT must be a text in double quotes"},
        {"boxes maybe", "1: boxes expects 'on' or 'off'"},
        {"ui", "1: ui expects 'ready' or 'not-ready'"},
        {"reset now", "1: reset: unexpected 'now'"},
        {"answer MAYBE",
         "1: answer: unknown button 'MAYBE' (OK, CANCEL, RETRY, ABORT or CONTINUE)"},
        {"erase user", "1: erase: missing all or record numbers"},
        {"erase user 1,,2", "1: erase: empty record number in '1,,2'"},
        {"export user \"\"", "1: export: FILE must not be empty"},
        {"raw 123", "1: raw: '123' has an odd number of hex digits"},
        {"raw zz", "1: raw: 'zz' is not hex"},
        {"raw", "1: raw: missing bytes"},
        {"\"report\" 5", "1: a line must start with a command word"},
        {"define 20 1 0" + tail, "1: define: MODULE 20 out of range (0 to 19)"},
        {"define 3 0xFFFF 0" + tail, "1: define: ID 0xFFFF is the end-of-table mark"},
        {"define 3 1 LOUD" + tail,
         "1: define: unknown flag 'LOUD' (SYSTEM, ARCHIVE, SHOW_ONCE, IEC_TEXT or a number)"},
        {"define 3 1 SYSTEM|" + tail, "1: define: empty part in FLAGS 'SYSTEM|'"},
        {"define 3 1 0 0 0 T - - - -", "1: define: TEXT_A must be a text in double quotes"},
        {"define 3 1 0 0 0 \"T\" x - - -",
         "1: define: TEXT_B must be a text in double quotes or -"},
        {"define 3 1 0 0 0 \"T\" - - mb_big -",
         "1: define: unknown box kind 'mb_big' (one of the nine mb_ functions or -)"},
        {"define 3 1 0 0 0 \"T\" - - -", "1: define: missing KIND_B"},
        {"define 3 1 0 0 0 \"T\" - - - - extra", "1: define: unexpected 'extra'"},
    };
    for (const auto& [script, error] : cases) EXPECT_EQ(error_of(script), error) << script;
}

// Button names in any case to their answer codes, and codes back to labels.
TEST(ErrsimScript, ButtonNames) {
    const std::pair<const char*, int> names[] = {{"OK", 3},    {"cancel", 4},   {"Retry", 5},
                                                 {"ABORT", 6}, {"CONTINUE", 7}, {"OKAY", 0}};
    for (const auto& [name, code] : names) EXPECT_EQ(errsim::button_code(name), code) << name;
    EXPECT_STREQ(errsim::button_label(7), "CONTINUE");
    EXPECT_EQ(errsim::button_label(8), nullptr);
}
