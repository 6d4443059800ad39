#include "script.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <map>
#include <stdexcept>

#include "err/err_table.h"
#include "err/mb_kind.h"
#include "err/protocol.h"

namespace errsim {

#define ERRSIM_KIND_NAME(kind) #kind,
const char* const kMbKindNames[9] = {MB_KIND_LIST(ERRSIM_KIND_NAME)};
#undef ERRSIM_KIND_NAME

namespace {

struct Failure {
    std::string message;
};

[[noreturn]] void fail(std::string message) {
    throw Failure{std::move(message)};
}

// A piece of the script as an error message quotes it: whole up to kExcerptLength characters,
// else its start and its length, so that a huge line never comes back whole.
constexpr std::size_t kExcerptLength = 64;

std::string excerpt(std::string_view text) {
    if (text.size() <= kExcerptLength) return std::string(text);
    return std::string(text.substr(0, kExcerptLength)) + "... (" + std::to_string(text.size()) +
           " characters)";
}

// One word of a line: a bare word, a quoted text, or key=value (the value bare or quoted).
struct Token {
    std::string text;  // the word, the text after unescaping, or the value of key=value
    bool quoted = false;
    std::optional<std::string> key;
};

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted text starting at line[i] == '"'; leaves i after the closing quote.
std::string read_quoted(std::string_view line, std::size_t& i) {
    std::string out;
    ++i;
    while (true) {
        if (i >= line.size()) fail("unterminated text (missing closing \")");
        char c = line[i++];
        if (c == '"') break;
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (i >= line.size()) fail("unterminated text (missing closing \")");
        char e = line[i++];
        int value = -1;
        switch (e) {
            case 'n':
                value = '\n';
                break;
            case 't':
                value = '\t';
                break;
            case 'r':
                value = '\r';
                break;
            case 'a':
                value = '\a';
                break;
            case 'b':
                value = '\b';
                break;
            case 'f':
                value = '\f';
                break;
            case 'v':
                value = '\v';
                break;
            case '\\':
                value = '\\';
                break;
            case '"':
                value = '"';
                break;
            case '\'':
                value = '\'';
                break;
            case '?':
                value = '?';
                break;
            case 'x': {
                int digits = 0;
                value = 0;
                while (digits < 2 && i < line.size() && hex_value(line[i]) >= 0) {
                    value = value * 16 + hex_value(line[i++]);
                    ++digits;
                }
                if (digits == 0) fail("\\x needs one or two hex digits");
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    value = e - '0';
                    int digits = 1;
                    while (digits < 3 && i < line.size() && line[i] >= '0' && line[i] <= '7') {
                        value = value * 8 + (line[i++] - '0');
                        ++digits;
                    }
                    if (value > 255) fail("octal escape above \\377");
                } else {
                    fail(std::string("unknown escape '\\") + e + "' (a backslash is written \\\\)");
                }
        }
        // A text travels as a C string: a NUL would silently cut it.
        if (value == 0) fail("a text cannot hold a NUL byte");
        out.push_back(static_cast<char>(value));
    }
    return out;
}

std::vector<Token> tokenize(std::string_view line) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && is_blank(line[i])) ++i;
        if (i >= line.size() || line[i] == '#') break;
        Token token;
        if (line[i] == '"') {
            token.text = read_quoted(line, i);
            token.quoted = true;
        } else {
            std::size_t start = i;
            while (i < line.size() && !is_blank(line[i]) && line[i] != '"' && line[i] != '#') ++i;
            std::string word(line.substr(start, i - start));
            std::size_t eq = word.find('=');
            if (i < line.size() && line[i] == '"') {
                if (eq == std::string::npos || eq + 1 != word.size())
                    fail("unexpected '\"' after '" + excerpt(word) + "'");
                token.key = word.substr(0, eq);
                token.text = read_quoted(line, i);
                token.quoted = true;
            } else if (eq != std::string::npos && eq > 0) {
                token.key = word.substr(0, eq);
                token.text = word.substr(eq + 1);
            } else {
                token.text = word;
            }
        }
        if (i < line.size() && !is_blank(line[i]) && line[i] != '#')
            fail("a text must be followed by a blank");
        tokens.push_back(std::move(token));
    }
    return tokens;
}

std::string describe(const Token& t) {
    std::string s = t.key ? *t.key + "=" : "";
    return excerpt(t.quoted ? s + "\"" + t.text + "\"" : s + t.text);
}

class LineParser {
  public:
    LineParser(std::string name, std::vector<Token> tokens)
        : name_(std::move(name)), tokens_(std::move(tokens)) {}

    std::size_t remaining() const { return tokens_.size() - pos_; }
    bool done() const { return pos_ >= tokens_.size(); }
    const Token& peek() const { return tokens_[pos_]; }

    const Token& next(const char* what) {
        if (done()) fail(name_ + ": missing " + what);
        return tokens_[pos_++];
    }
    void finish() {
        if (!done()) fail(name_ + ": unexpected '" + describe(peek()) + "'");
    }

    std::string word(const char* what) {
        const Token& t = next(what);
        if (t.quoted || t.key)
            fail(name_ + ": " + what + " must be a plain word, not '" + describe(t) + "'");
        return t.text;
    }
    long long number(const char* what, long long min, long long max) {
        std::string w = word(what);
        return to_number(w, what, min, max);
    }
    long long to_number(const std::string& w, const char* what, long long min, long long max) {
        long long v = 0;
        std::string reason;
        if (!parse_number(w, min, max, v, reason)) fail(name_ + ": " + what + " " + reason);
        return v;
    }
    std::uint16_t u16(const char* what) {
        return static_cast<std::uint16_t>(number(what, 0, 0xFFFF));
    }
    std::string text(const char* what) {
        const Token& t = next(what);
        if (!t.quoted || t.key) fail(name_ + ": " + what + " must be a text in double quotes");
        return t.text;
    }
    // "TEXT" or -
    std::optional<std::string> text_or_none(const char* what) {
        const Token& t = next(what);
        if (!t.key && !t.quoted && t.text == "-") return std::nullopt;
        if (!t.quoted || t.key) fail(name_ + ": " + what + " must be a text in double quotes or -");
        return t.text;
    }
    // One of two words; returns true for the second.
    bool choice(const char* first, const char* second) {
        std::string w = done() ? std::string() : peek().text;
        if (done() || peek().quoted || peek().key || (w != first && w != second))
            fail(name_ + " expects '" + first + "' or '" + second + "'");
        ++pos_;
        return w == second;
    }

  private:
    std::string name_;
    std::vector<Token> tokens_;
    std::size_t pos_ = 0;
};

// The flag names, from the module's list: each with and without its "EF_" prefix.
#define ERRSIM_FLAG(name) {#name, EF_##name}, {"EF_" #name, EF_##name},
const std::map<std::string, std::uint16_t> kFlagNames = {EF_FLAG_LIST(ERRSIM_FLAG)};
#undef ERRSIM_FLAG

// "A, B, C or D" of the names.
template <typename Names>
std::string one_of(const Names& names) {
    std::string text;
    for (std::size_t i = 0; i < std::size(names); ++i)
        text += (i == 0 ? "" : i + 1 == std::size(names) ? " or " : ", ") + std::string(names[i]);
    return text;
}

#define ERRSIM_FLAG_NAME(name) #name,
constexpr const char* kFlagList[] = {EF_FLAG_LIST(ERRSIM_FLAG_NAME) "a number"};
#undef ERRSIM_FLAG_NAME

struct Button {
    std::uint16_t code;
    const char* label;
};
#define ERRSIM_BUTTON(code, label) {code, label},
constexpr Button kButtons[] = {MB_BUTTON_LIST(ERRSIM_BUTTON)};
#undef ERRSIM_BUTTON

std::vector<const char*> button_labels() {
    std::vector<const char*> labels;
    for (const Button& b : kButtons) labels.push_back(b.label);
    return labels;
}

std::uint16_t parse_flags(LineParser& p) {
    std::string w = p.word("FLAGS");
    const auto& names = kFlagNames;
    std::uint16_t flags = 0;
    std::size_t start = 0;
    while (true) {
        std::size_t bar = w.find('|', start);
        std::string part =
            w.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (part.empty()) fail("define: empty part in FLAGS '" + excerpt(w) + "'");
        auto it = names.find(part);
        if (it != names.end()) {
            flags |= it->second;
        } else if (std::isdigit(static_cast<unsigned char>(part[0]))) {
            flags |= static_cast<std::uint16_t>(p.to_number(part, "FLAGS", 0, 0xFFFF));
        } else {
            fail("define: unknown flag '" + excerpt(part) + "' (" + one_of(kFlagList) + ")");
        }
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return flags;
}

std::optional<std::string> parse_kind(LineParser& p, const char* what) {
    std::string w = p.word(what);
    if (w == "-") return std::nullopt;
    for (const char* name : kMbKindNames)
        if (w == name) return w;
    fail("define: unknown box kind '" + excerpt(w) + "' (one of the nine mb_ functions or -)");
}

EntryDef parse_define(LineParser& p, std::uint16_t& module) {
    EntryDef e;
    module = static_cast<std::uint16_t>(p.number("MODULE", 0, ERR_MODULE_COUNT - 1));
    e.id = p.u16("ID");
    if (e.id == ERR_TABLE_END) fail("define: ID 0xFFFF is the end-of-table mark");
    e.flags = parse_flags(p);
    e.action_a = p.u16("ACTION_A");
    e.action_b = p.u16("ACTION_B");
    e.text_a = p.text("TEXT_A");
    e.text_b = p.text_or_none("TEXT_B");
    e.component = p.text_or_none("COMPONENT");
    e.kind_a = parse_kind(p, "KIND_A");
    e.kind_b = parse_kind(p, "KIND_B");
    p.finish();
    return e;
}

void parse_report(LineParser& p, Command& c) {
    c.id = p.u16("ID");
    while (!p.done()) {
        const Token& t = p.next("option");
        if (t.key && *t.key == "file") {
            if (c.file) fail("report: file= given twice");
            if (!t.quoted) fail("report: file= needs a text in double quotes");
            c.file = t.text;
        } else if (t.key && *t.key == "line") {
            if (c.source_line) fail("report: line= given twice");
            if (t.quoted) fail("report: line= needs a number");
            c.source_line = static_cast<std::int32_t>(
                p.to_number(t.text, "line=", -2147483648LL, 2147483647LL));
        } else if (!t.key && t.quoted) {
            if (c.info) fail("report: more than one INFO text");
            if (c.file || c.source_line || c.reply) fail("report: INFO must come right after ID");
            c.info = t.text;
        } else if (!t.key && t.text == "reply") {
            if (c.reply) fail("report: reply given twice");
            c.reply = true;
        } else {
            fail("report: unexpected '" + describe(t) +
                 "' (expected \"INFO\", file=\"F\", line=N or reply)");
        }
    }
}

// Most threads of a storm: more reporting threads than this only queue on the processors.
constexpr long long kMaxStormThreads = 64;

void parse_storm(LineParser& p, Command& c) {
    c.id = p.u16("ID");
    c.count = static_cast<std::uint32_t>(p.number("COUNT", 1, 100000000));
    bool threads_given = false;
    while (!p.done()) {
        const Token& t = p.next("option");
        if (t.key && *t.key == "threads") {
            if (threads_given) fail("storm: threads= given twice");
            if (t.quoted) fail("storm: threads= needs a number");
            c.threads =
                static_cast<std::uint16_t>(p.to_number(t.text, "threads=", 1, kMaxStormThreads));
            threads_given = true;
        } else if (!t.key && t.quoted) {
            if (c.info) fail("storm: more than one INFO text");
            c.info = t.text;
        } else {
            fail("storm: unexpected '" + describe(t) + "' (expected threads=N or \"INFO\")");
        }
    }
}

void parse_erase(LineParser& p, Command& c) {
    c.log = p.choice("user", "system") ? LogSel::System : LogSel::User;
    if (p.done()) fail("erase: missing all or record numbers");
    if (!p.peek().quoted && !p.peek().key && p.peek().text == "all") {
        p.next("all");
        c.all = true;
        p.finish();
        return;
    }
    // Record numbers, separated by commas; blanks after a comma are allowed.
    std::string joined;
    while (!p.done()) joined += p.word("record numbers");
    std::size_t start = 0;
    while (true) {
        std::size_t comma = joined.find(',', start);
        std::string part =
            joined.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (part.empty()) fail("erase: empty record number in '" + excerpt(joined) + "'");
        c.records.push_back(static_cast<std::uint16_t>(p.to_number(part, "record", 0, 0xFFFF)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
}

void parse_cmd(LineParser& p, Command& c) {
    c.value = p.u16("CODE");
    while (!p.done()) {
        const Token& t = p.next("word");
        if (t.key) fail("cmd: unexpected '" + describe(t) + "'");
        if (t.quoted) {
            c.bytes.insert(c.bytes.end(), t.text.begin(), t.text.end());
            c.bytes.push_back(0);
        } else {
            auto w = static_cast<std::uint16_t>(p.to_number(t.text, "WORD", 0, 0xFFFF));
            c.bytes.push_back(static_cast<std::uint8_t>(w & 0xFF));
            c.bytes.push_back(static_cast<std::uint8_t>(w >> 8));
        }
    }
    if (BLK_HEAD_SIZE + c.bytes.size() > 0xFFFF) fail("cmd: block longer than 65535 bytes");
}

void parse_raw(LineParser& p, Command& c) {
    if (p.done()) fail("raw: missing bytes");
    while (!p.done()) {
        std::string w = p.word("HEX");
        if (w.size() % 2 != 0) fail("raw: '" + excerpt(w) + "' has an odd number of hex digits");
        for (std::size_t i = 0; i < w.size(); i += 2) {
            int hi = hex_value(w[i]), lo = hex_value(w[i + 1]);
            if (hi < 0 || lo < 0) fail("raw: '" + excerpt(w) + "' is not hex");
            c.bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
    }
    if (c.bytes.size() > 0xFFFF) fail("raw: more than 65535 bytes");
}

void parse_command(const std::string& name, LineParser& p, Command& c) {
    if (name == "report") {
        c.op = Op::Report;
        parse_report(p, c);
        return;
    }
    if (name == "boxes") {
        c.op = Op::Boxes;
        c.on = !p.choice("on", "off");
    } else if (name == "ui") {
        c.op = Op::Ui;
        c.on = !p.choice("ready", "not-ready");
    } else if (name == "variant") {
        c.op = Op::Variant;
        c.on = p.choice("a", "b");
    } else if (name == "system-errors") {
        c.op = Op::SystemErrors;
        c.on = !p.choice("on", "off");
    } else if (name == "archive-all") {
        c.op = Op::ArchiveAll;
        c.value = p.u16("N");
    } else if (name == "reset") {
        c.op = Op::Reset;
    } else if (name == "state") {
        c.op = Op::State;
        c.id = p.u16("ID");
        c.and_mask = p.u16("ANDMASK");
        c.or_mask = p.u16("ORMASK");
    } else if (name == "export") {
        c.op = Op::Export;
        c.log = p.choice("user", "system") ? LogSel::System : LogSel::User;
        c.text = p.text("FILE");
        if (c.text.empty()) fail("export: FILE must not be empty");
    } else if (name == "erase") {
        c.op = Op::Erase;
        parse_erase(p, c);
    } else if (name == "answer") {
        c.op = Op::Answer;
        std::string w = p.word("BUTTON");
        c.value = button_code(w);
        if (c.value == 0)
            fail("answer: unknown button '" + excerpt(w) + "' (" + one_of(button_labels()) + ")");
    } else if (name == "cmd") {
        c.op = Op::Cmd;
        parse_cmd(p, c);
    } else if (name == "raw") {
        c.op = Op::Raw;
        parse_raw(p, c);
    } else if (name == "sync") {
        c.op = Op::Sync;
    } else if (name == "show") {
        c.op = Op::Show;
        c.log = p.choice("user", "system") ? LogSel::System : LogSel::User;
    } else if (name == "echo") {
        c.op = Op::Echo;
        c.text = p.text("TEXT");
    } else if (name == "module-call") {
        c.op = Op::ModuleCall;
        c.text = p.word("NAME");
    } else if (name == "storm") {
        c.op = Op::Storm;
        parse_storm(p, c);
    } else {
        fail("unknown command '" + excerpt(name) + "'");
    }
    p.finish();
}

}  // namespace

bool parse_number(std::string_view text, long long min, long long max, long long& out,
                  std::string& reason) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && digits[0] == '-' && min < 0) {
        negative = true;
        digits.remove_prefix(1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    if (digits.empty()) {
        reason = "'" + excerpt(text) + "' is not a number";
        return false;
    }
    unsigned long long value = 0;
    for (char ch : digits) {
        int d = base == 16 ? hex_value(ch) : (ch >= '0' && ch <= '9' ? ch - '0' : -1);
        if (d < 0) {
            reason = "'" + excerpt(text) + "' is not a number";
            return false;
        }
        value = value * base + d;
        if (value > (1ULL << 40)) break;  // far out of any range; stop before overflow
    }
    long long v = value > (1ULL << 40) ? (1LL << 40) : static_cast<long long>(value);
    if (negative) v = -v;
    if (v < min || v > max) {
        reason = excerpt(text) + " out of range (" + std::to_string(min) + " to " +
                 std::to_string(max) + ")";
        return false;
    }
    out = v;
    return true;
}

std::uint16_t button_code(std::string_view name) {
    std::string upper;
    for (char ch : name)
        upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(ch))));
    for (const Button& b : kButtons)
        if (upper == b.label) return b.code;
    return 0;
}

const char* button_label(std::uint16_t code) {
    for (const Button& b : kButtons)
        if (code == b.code) return b.label;
    return nullptr;
}

ParseResult parse_script(std::string_view text) {
    ParseResult result;
    int line_nr = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        ++line_nr;
        try {
            std::vector<Token> tokens = tokenize(line);
            if (!tokens.empty()) {
                const Token& first = tokens.front();
                if (first.quoted || first.key) fail("a line must start with a command word");
                std::string name = first.text;
                tokens.erase(tokens.begin());
                LineParser p(name, std::move(tokens));
                if (name == "define") {
                    std::uint16_t module = 0;
                    EntryDef e = parse_define(p, module);
                    e.line = line_nr;
                    TableDef* table = nullptr;
                    for (auto& t : result.script.tables)
                        if (t.module == module) table = &t;
                    if (!table) {
                        result.script.tables.push_back(TableDef{module, {}});
                        table = &result.script.tables.back();
                    }
                    table->entries.push_back(std::move(e));
                } else {
                    Command c;
                    c.line = line_nr;
                    parse_command(name, p, c);
                    result.script.commands.push_back(std::move(c));
                }
            }
        } catch (const Failure& f) {
            result.error = ScriptError{line_nr, f.message};
            return result;
        }
        if (end == text.size()) break;
        pos = end + 1;
    }
    return result;
}

bool read_script_file(const std::string& path, std::string& text, std::string& error) {
    errno = 0;
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        if (!std::cin.bad()) return true;
        error = errno ? std::strerror(errno) : "read error";
        return false;
    }
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = std::strerror(errno);
        return false;
    }
    char buf[8192];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    const bool ok = std::ferror(f) == 0;
    if (!ok) error = errno ? std::strerror(errno) : "read error";
    std::fclose(f);
    return ok;
}

std::string script_excerpt(std::string_view text) {
    return excerpt(text);
}

}  // namespace errsim
