// The errsim script parser: commands, texts, numbers, and errors that name their line.
#include <gtest/gtest.h>

#include "../tools/errsim/script.h"

using errsim::LogSel;
using errsim::Op;
using errsim::parse_script;

namespace {

// The error message of a script that must fail, as "line N: message".
std::string error_of(const std::string& text) {
    auto r = parse_script(text);
    if (!r.error) return "no error";
    return "line " + std::to_string(r.error->line) + ": " + r.error->message;
}

}  // namespace

TEST(ErrsimScript, DefineLinesFormOneTablePerModuleInLineOrder) {
    auto r = parse_script(
        "# tables\n"
        "define 5 100 0x03 12 0 \"Pump %s failed\" - \"PUMP\" mb_ok_cancel -\n"
        "define 7 200 SYSTEM|ARCHIVE 0 0 \"B\" \"b\" - - mb_auto_box\n"
        "report 100\n"
        "define 5 101 SHOW_ONCE|0x08 1 2 \"C\" \"c\" \"X\" mb_clear_close mb_ok\n");
    ASSERT_FALSE(r.error) << r.error->message;
    ASSERT_EQ(r.script.tables.size(), 2u);
    const auto& t5 = r.script.tables[0];
    EXPECT_EQ(t5.module, 5);
    ASSERT_EQ(t5.entries.size(), 2u);
    EXPECT_EQ(t5.entries[0].line, 2);
    EXPECT_EQ(t5.entries[0].id, 100);
    EXPECT_EQ(t5.entries[0].flags, 0x03);
    EXPECT_EQ(t5.entries[0].action_a, 12);
    EXPECT_EQ(t5.entries[0].action_b, 0);
    EXPECT_EQ(t5.entries[0].text_a, "Pump %s failed");
    EXPECT_FALSE(t5.entries[0].text_b);
    EXPECT_EQ(t5.entries[0].component, "PUMP");
    EXPECT_EQ(t5.entries[0].kind_a, "mb_ok_cancel");
    EXPECT_FALSE(t5.entries[0].kind_b);
    EXPECT_EQ(t5.entries[1].id, 101);
    EXPECT_EQ(t5.entries[1].flags, 0x0C);
    EXPECT_EQ(t5.entries[1].line, 5);
    EXPECT_EQ(t5.entries[1].kind_b, "mb_ok");
    const auto& t7 = r.script.tables[1];
    EXPECT_EQ(t7.module, 7);
    ASSERT_EQ(t7.entries.size(), 1u);
    EXPECT_EQ(t7.entries[0].flags, 0x03);
    EXPECT_FALSE(t7.entries[0].component);
    EXPECT_FALSE(t7.entries[0].kind_a);
    EXPECT_EQ(t7.entries[0].kind_b, "mb_auto_box");
    ASSERT_EQ(r.script.commands.size(), 1u);
    EXPECT_EQ(r.script.commands[0].line, 4);
}

TEST(ErrsimScript, EveryKindNameIsAccepted) {
    for (const char* kind : errsim::kMbKindNames) {
        auto r = parse_script(std::string("define 3 1 0 0 0 \"t\" - - ") + kind + " " + kind);
        ASSERT_FALSE(r.error) << kind << ": " << r.error->message;
        EXPECT_EQ(r.script.tables[0].entries[0].kind_a, kind);
    }
}

TEST(ErrsimScript, ReportOptions) {
    auto r = parse_script(
        "report 42\n"
        "report 0x2A \"a$b\" file=\"src/x.c\" line=-7 reply\n"
        "report 65535 reply line=0x10\n");
    ASSERT_FALSE(r.error) << r.error->message;
    ASSERT_EQ(r.script.commands.size(), 3u);
    const auto& a = r.script.commands[0];
    EXPECT_EQ(a.op, Op::Report);
    EXPECT_EQ(a.id, 42);
    EXPECT_FALSE(a.info);
    EXPECT_FALSE(a.file);
    EXPECT_FALSE(a.source_line);
    EXPECT_FALSE(a.reply);
    const auto& b = r.script.commands[1];
    EXPECT_EQ(b.id, 42);
    EXPECT_EQ(b.info, "a$b");
    EXPECT_EQ(b.file, "src/x.c");
    EXPECT_EQ(b.source_line, -7);
    EXPECT_TRUE(b.reply);
    EXPECT_EQ(b.line, 2);
    const auto& c = r.script.commands[2];
    EXPECT_EQ(c.id, 65535);
    EXPECT_TRUE(c.reply);
    EXPECT_EQ(c.source_line, 16);
}

TEST(ErrsimScript, SwitchAndLogCommands) {
    auto r = parse_script(
        "boxes off\nboxes on\nui ready\nui not-ready\nvariant b\nvariant a\n"
        "system-errors off\narchive-all 0x1\nreset\nstate 65001 0xFFEF 0\n"
        "export user \"\\\\LOG\\\\USER.ARC\"\nerase system all\nerase user 3,4, 25\n"
        "answer cancel\nsync\nshow system\necho \"hi\"\nmodule-call example_fail\n");
    ASSERT_FALSE(r.error) << r.error->message;
    const auto& c = r.script.commands;
    ASSERT_EQ(c.size(), 18u);
    EXPECT_EQ(c[0].op, Op::Boxes);
    EXPECT_FALSE(c[0].on);
    EXPECT_TRUE(c[1].on);
    EXPECT_EQ(c[2].op, Op::Ui);
    EXPECT_TRUE(c[2].on);
    EXPECT_FALSE(c[3].on);
    EXPECT_EQ(c[4].op, Op::Variant);
    EXPECT_TRUE(c[4].on);
    EXPECT_FALSE(c[5].on);
    EXPECT_EQ(c[6].op, Op::SystemErrors);
    EXPECT_FALSE(c[6].on);
    EXPECT_EQ(c[7].op, Op::ArchiveAll);
    EXPECT_EQ(c[7].value, 1);
    EXPECT_EQ(c[8].op, Op::Reset);
    EXPECT_EQ(c[9].op, Op::State);
    EXPECT_EQ(c[9].id, 65001);
    EXPECT_EQ(c[9].and_mask, 0xFFEF);
    EXPECT_EQ(c[9].or_mask, 0);
    EXPECT_EQ(c[10].op, Op::Export);
    EXPECT_EQ(c[10].log, LogSel::User);
    EXPECT_EQ(c[10].text, "\\LOG\\USER.ARC");
    EXPECT_EQ(c[11].op, Op::Erase);
    EXPECT_EQ(c[11].log, LogSel::System);
    EXPECT_TRUE(c[11].all);
    EXPECT_FALSE(c[12].all);
    EXPECT_EQ(c[12].records, (std::vector<std::uint16_t>{3, 4, 25}));
    EXPECT_EQ(c[13].op, Op::Answer);
    EXPECT_EQ(c[13].value, 4);
    EXPECT_EQ(c[14].op, Op::Sync);
    EXPECT_EQ(c[15].op, Op::Show);
    EXPECT_EQ(c[15].log, LogSel::System);
    EXPECT_EQ(c[16].text, "hi");
    EXPECT_EQ(c[17].op, Op::ModuleCall);
    EXPECT_EQ(c[17].text, "example_fail");
}

TEST(ErrsimScript, CmdAndRawBytes) {
    auto r = parse_script(
        "cmd 603 65001 0xFFEF 0\ncmd 610 0 \"A.ARC\"\ncmd 600\n"
        "raw 0000 0000 00 00 0000 0000 0100 5802 0800 0000\n");
    ASSERT_FALSE(r.error) << r.error->message;
    const auto& c = r.script.commands;
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].op, Op::Cmd);
    EXPECT_EQ(c[0].value, 603);
    EXPECT_EQ(c[0].bytes, (std::vector<std::uint8_t>{0xE9, 0xFD, 0xEF, 0xFF, 0, 0}));
    EXPECT_EQ(c[1].bytes, (std::vector<std::uint8_t>{0, 0, 'A', '.', 'A', 'R', 'C', 0}));
    EXPECT_TRUE(c[2].bytes.empty());
    EXPECT_EQ(c[3].op, Op::Raw);
    EXPECT_EQ(c[3].bytes,
              (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x58, 2, 8, 0, 0, 0}));
}

TEST(ErrsimScript, TextEscapesAndComments) {
    auto r = parse_script(
        "echo \"a\\nb\\t\\\"q\\\" \\\\ \\x41\\101\\7 # not a comment\"  # a comment\n"
        "   # only a comment\n"
        "\n"
        "echo \"\\xfF\\377\"#tight comment\n");
    ASSERT_FALSE(r.error) << r.error->message;
    ASSERT_EQ(r.script.commands.size(), 2u);
    EXPECT_EQ(r.script.commands[0].text, "a\nb\t\"q\" \\ AA\a # not a comment");
    EXPECT_EQ(r.script.commands[1].text, "\xff\xff");
    EXPECT_EQ(r.script.commands[1].line, 4);
}

TEST(ErrsimScript, NumbersDecimalAndHex) {
    long long v = 0;
    std::string why;
    EXPECT_TRUE(errsim::parse_number("0", 0, 65535, v, why));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(errsim::parse_number("65535", 0, 65535, v, why));
    EXPECT_EQ(v, 65535);
    EXPECT_TRUE(errsim::parse_number("0xfFfF", 0, 65535, v, why));
    EXPECT_EQ(v, 65535);
    EXPECT_TRUE(errsim::parse_number("0X10", 0, 65535, v, why));
    EXPECT_EQ(v, 16);
    EXPECT_TRUE(errsim::parse_number("-0x10", -100, 100, v, why));
    EXPECT_EQ(v, -16);
    EXPECT_FALSE(errsim::parse_number("65536", 0, 65535, v, why));
    EXPECT_EQ(why, "65536 out of range (0 to 65535)");
    EXPECT_FALSE(errsim::parse_number("-1", 0, 65535, v, why));
    EXPECT_EQ(why, "'-1' is not a number");
    EXPECT_FALSE(errsim::parse_number("0x", 0, 65535, v, why));
    EXPECT_FALSE(errsim::parse_number("12a", 0, 65535, v, why));
    EXPECT_EQ(why, "'12a' is not a number");
    EXPECT_FALSE(errsim::parse_number("99999999999999999999999", 0, 65535, v, why));
    EXPECT_FALSE(errsim::parse_number("", 0, 65535, v, why));
}

TEST(ErrsimScript, ErrorsNameTheirLine) {
    EXPECT_EQ(error_of("sync\n\nrepot 5\n"), "line 3: unknown command 'repot'");
    EXPECT_EQ(error_of("report\n"), "line 1: report: missing ID");
    EXPECT_EQ(error_of("report 70000"), "line 1: report: ID 70000 out of range (0 to 65535)");
    EXPECT_EQ(error_of("report 5 \"a\" \"b\""), "line 1: report: more than one INFO text");
    EXPECT_EQ(error_of("report 5 reply \"a\""), "line 1: report: INFO must come right after ID");
    EXPECT_EQ(error_of("report 5 line=x"), "line 1: report: line= 'x' is not a number");
    EXPECT_EQ(error_of("report 5 file=x.c"), "line 1: report: file= needs a text in double quotes");
    EXPECT_EQ(
        error_of("report 5 bogus"),
        "line 1: report: unexpected 'bogus' (expected \"INFO\", file=\"F\", line=N or reply)");
    EXPECT_EQ(error_of("echo \"abc"), "line 1: unterminated text (missing closing \")");
    EXPECT_EQ(error_of("echo \"a\\qb\""), "line 1: unknown escape '\\q'");
    EXPECT_EQ(error_of("echo \"a\\0b\""), "line 1: a text cannot hold a NUL byte");
    EXPECT_EQ(error_of("echo \"a\"b"), "line 1: a text must be followed by a blank");
    EXPECT_EQ(error_of("echo abc"), "line 1: echo: TEXT must be a text in double quotes");
    EXPECT_EQ(error_of("boxes maybe"), "line 1: boxes expects 'on' or 'off'");
    EXPECT_EQ(error_of("ui"), "line 1: ui expects 'ready' or 'not-ready'");
    EXPECT_EQ(error_of("reset now"), "line 1: reset: unexpected 'now'");
    EXPECT_EQ(error_of("answer MAYBE"),
              "line 1: answer: unknown button 'MAYBE' (OK, CANCEL, RETRY, ABORT or CONTINUE)");
    EXPECT_EQ(error_of("erase user"), "line 1: erase: missing all or record numbers");
    EXPECT_EQ(error_of("erase user 1,,2"), "line 1: erase: empty record number in '1,,2'");
    EXPECT_EQ(error_of("export user \"\""), "line 1: export: FILE must not be empty");
    EXPECT_EQ(error_of("raw 123"), "line 1: raw: '123' has an odd number of hex digits");
    EXPECT_EQ(error_of("raw zz"), "line 1: raw: 'zz' is not hex");
    EXPECT_EQ(error_of("raw"), "line 1: raw: missing bytes");
    EXPECT_EQ(error_of("\"report\" 5"), "line 1: a line must start with a command word");
}

TEST(ErrsimScript, DefineErrors) {
    const std::string tail = " 0 0 \"T\" - - - -";
    EXPECT_EQ(error_of("define 20 1 0" + tail), "line 1: define: MODULE 20 out of range (0 to 19)");
    EXPECT_EQ(error_of("define 3 0xFFFF 0" + tail),
              "line 1: define: ID 0xFFFF is the end-of-table mark");
    EXPECT_EQ(error_of("define 3 1 LOUD" + tail),
              "line 1: define: unknown flag 'LOUD' (SYSTEM, ARCHIVE, SHOW_ONCE, IEC_TEXT or a "
              "number)");
    EXPECT_EQ(error_of("define 3 1 SYSTEM|" + tail),
              "line 1: define: empty part in FLAGS 'SYSTEM|'");
    EXPECT_EQ(error_of("define 3 1 0 0 0 T - - - -"),
              "line 1: define: TEXT_A must be a text in double quotes");
    EXPECT_EQ(error_of("define 3 1 0 0 0 \"T\" x - - -"),
              "line 1: define: TEXT_B must be a text in double quotes or -");
    EXPECT_EQ(error_of("define 3 1 0 0 0 \"T\" - - mb_big -"),
              "line 1: define: unknown box kind 'mb_big' (one of the nine mb_ functions or -)");
    EXPECT_EQ(error_of("define 3 1 0 0 0 \"T\" - - -"), "line 1: define: missing KIND_B");
    EXPECT_EQ(error_of("define 3 1 0 0 0 \"T\" - - - - extra"),
              "line 1: define: unexpected 'extra'");
    // The first error wins, and nothing after it is parsed.
    auto r = parse_script("define 3 1 0 0 0 \"T\" - - - -\nbad\nworse\n");
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->line, 2);
}

TEST(ErrsimScript, ButtonNames) {
    EXPECT_EQ(errsim::button_code("OK"), 3);
    EXPECT_EQ(errsim::button_code("cancel"), 4);
    EXPECT_EQ(errsim::button_code("Retry"), 5);
    EXPECT_EQ(errsim::button_code("ABORT"), 6);
    EXPECT_EQ(errsim::button_code("CONTINUE"), 7);
    EXPECT_EQ(errsim::button_code("OKAY"), 0);
    EXPECT_STREQ(errsim::button_label(7), "CONTINUE");
    EXPECT_EQ(errsim::button_label(8), nullptr);
}
