// The errsim script language: one command a line, parsed whole before anything runs.
//
// The parser is pure: it turns the script text into tables to register and commands to run,
// or into the first error with its line number. docs/errsim.md describes the language.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace errsim {

// One `define` line: one entry of a script table.
struct EntryDef {
    int line = 0;  // script line that defined it
    std::uint16_t id = 0;
    std::uint16_t flags = 0;
    std::uint16_t action_a = 0;
    std::uint16_t action_b = 0;
    std::string text_a;
    std::optional<std::string> text_b;     // "-": none
    std::optional<std::string> component;  // "-": none
    std::optional<std::string> kind_a;     // one of kMbKindNames, or none
    std::optional<std::string> kind_b;
};

// The `define` lines of one module number, in line order (the end entry is not listed).
struct TableDef {
    std::uint16_t module = 0;
    std::vector<EntryDef> entries;
};

enum class Op {
    Report,        // report ID ["INFO"] [file="F"] [line=N] [reply]
    Boxes,         // boxes on|off                 -> 604 / 605
    Ui,            // ui ready|not-ready           -> 606 / 607
    Variant,       // variant a|b                  -> 608 / 609
    SystemErrors,  // system-errors on|off         -> 612 / 613
    ArchiveAll,    // archive-all N                -> 619
    Reset,         // reset                        -> 600
    State,         // state ID ANDMASK ORMASK      -> 603
    Export,        // export user|system "FILE"    -> 610 / 611
    Erase,         // erase user|system all|N[,N...] -> 614..617
    Answer,        // answer BUTTON
    Cmd,           // cmd CODE [WORD|"TEXT"...]
    Raw,           // raw HEX...
    Sync,          // sync
    Show,          // show user|system
    Echo,          // echo "TEXT"
    ModuleCall,    // module-call NAME
    Storm,         // storm ID COUNT [threads=N] ["INFO"]
};

enum class LogSel { User, System };

struct Command {
    int line = 0;
    Op op = Op::Sync;

    // Report
    std::uint16_t id = 0;
    std::optional<std::string> info;
    std::optional<std::string> file;
    std::optional<std::int32_t> source_line;
    bool reply = false;

    // Boxes, Ui, SystemErrors: true = on / ready. Variant: true = b.
    bool on = false;
    // ArchiveAll value; Answer button code (a BTN_ code); Cmd command code.
    std::uint16_t value = 0;
    // State
    std::uint16_t and_mask = 0;
    std::uint16_t or_mask = 0;
    // Export, Erase, Show
    LogSel log = LogSel::User;
    // Erase: all, or the record numbers
    bool all = false;
    std::vector<std::uint16_t> records;
    // Storm: COUNT reports from `threads` threads
    std::uint32_t count = 0;
    std::uint16_t threads = 1;
    // Export file, Echo text, ModuleCall name
    std::string text;
    // Cmd: the data bytes from block byte 8; Raw: the whole segment
    std::vector<std::uint8_t> bytes;
};

struct Script {
    std::vector<TableDef> tables;   // in order of each module's first define line
    std::vector<Command> commands;  // every other command, in line order
};

struct ScriptError {
    int line = 0;
    std::string message;  // without the line, e.g. "unknown command 'repot'"
};

struct ParseResult {
    Script script;
    std::optional<ScriptError> error;  // the first error; script is then incomplete
};

// The nine message-box kind names that a define line may name.
extern const char* const kMbKindNames[9];

// Parses a whole script. Stops at the first error.
ParseResult parse_script(std::string_view text);

// Reads a script file whole into text ("-": standard input). False when it cannot be read,
// with the reason in error (as strerror gives it).
bool read_script_file(const std::string& path, std::string& text, std::string& error);

// A piece of a script as a message quotes it: whole up to 64 characters, else its start, "..."
// and its length.
std::string script_excerpt(std::string_view text);

// Building blocks, exposed for the tests.
// A number: decimal digits or 0x followed by hex digits; negative only when allow_negative.
// Returns false and a reason when the text is no number or lies outside [min, max].
bool parse_number(std::string_view text, long long min, long long max, long long& out,
                  std::string& reason);
// Button name (any case) to its answer code; 0 when unknown.
std::uint16_t button_code(std::string_view name);
// Button code to its label ("OK"...), or null.
const char* button_label(std::uint16_t code);

}  // namespace errsim
