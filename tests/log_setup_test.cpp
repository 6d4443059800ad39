// Setting up the logs at start: configuration, validation, backup of corrupt files, creation.
#include <string>
#include <vector>

#include "log_test_helpers.h"

using namespace log_test;
namespace fs = std::filesystem;

namespace {

class LogSetup : public LogTest {};

// image with one field changed: in the header (record 0) or in a record.
std::string edited(std::string image, unsigned record, std::size_t offset, const char* value) {
    if (record == 0)
        set_hfield(image, offset, value);
    else
        set_rfield(image, record, offset, value);
    return image;
}

struct Image {
    const char* what;
    std::string bytes;
    err::LogFault fault;                      // none: the file is valid
    const char* reason;                       // as the validation describes it
    err::LogHeader loaded = {0, 0, 0, 0, 1};  // what the start loads from a valid file
};

// Valid images, and a corrupt one for each rule of the validation.
std::vector<Image> images() {
    using F = err::LogFault;
    const std::string fresh = new_file(), valid = valid_image();
    const std::string longer = edited(fresh + record_bytes(new_record(26)), 0, H_LENGTH, "16467");
    return {
        {"new file", fresh, F::none, "valid"},
        {"errors and an overflow record", valid, F::none, "valid", {5, 3, 4, 9, 1}},
        // A chain whose last link is above 25 ends there: valid while every record is
        // accounted for.
        {"free chain ends at 026", edited(fresh, 25, R_PREV, "026"), F::none, "valid"},
        {"empty file", "", F::header_short,
         "too short: only 0 of the header record's 373 bytes can be read"},
        {"shorter than a header", fresh.substr(0, 372), F::header_short,
         "too short: only 372 of the header record's 373 bytes can be read"},
        {"15847 bytes", fresh.substr(0, kFile - 1), F::length_mismatch,
         "length field mismatch: the header says 15848 bytes, the file has 15847"},
        {"15849 bytes", fresh + "x", F::length_mismatch,
         "length field mismatch: the header says 15848 bytes, the file has 15849"},
        {"length field 15847", edited(fresh, 0, H_LENGTH, "15847"), F::length_mismatch,
         "length field mismatch: the header says 15847 bytes, the file has 15848"},
        {"26 records, length field agrees", longer, F::length_not_standard,
         "wrong length: 16467 bytes (a log file has 15848)"},
        {"overflow record 026", edited(fresh, 0, H_OVERFLOW, "026"), F::overflow_out_of_range,
         "bad overflow record number 026 (must be 0 to 25)"},
        {"free chain loops", edited(fresh, 25, R_PREV, "001"), F::record_met_twice,
         "record 1 met twice in the free chain: the chain loops (check 1)"},
        {"error chain shares a free record",
         edited(edited(fresh, 0, H_START, "003"), 0, H_END, "003"), F::record_met_twice,
         "record 3 is on two chains: the free chain and the error chain walked back from the "
         "newest error (check 1)"},
        {"overflow record on the free chain", edited(fresh, 0, H_OVERFLOW, "005"),
         F::record_met_twice, "the overflow record 5 is on the free chain (check 1)"},
        {"records 11 to 25 on no chain", edited(fresh, 10, R_PREV, "000"), F::record_unaccounted,
         "record 11 is on no chain and is not the overflow record (check 1)"},
        {"forward links broken", edited(valid, 3, R_NEXT, "000"), F::record_unaccounted,
         "record 5 is on no chain and is not the overflow record (check 2)"},
        {"forward walk loops", edited(valid, 7, R_NEXT, "003"), F::record_met_twice,
         "record 3 met twice in the error chain walked forward from the oldest error: the chain "
         "loops (check 2)"},
        {"error chain loops", edited(valid, 3, R_PREV, "005"), F::record_met_twice,
         "record 5 met twice in the error chain walked back from the newest error: the chain loops "
         "(check 1)"},
    };
}

// A valid file is used unchanged and its header loaded; a corrupt one is moved to the backup
// (only the last corrupt file survives there) and replaced by a new file. Neither prints a text.
TEST_F(LogSetup, ValidFilesAreKeptCorruptOnesBackedUpAndReplaced) {
    for (const Image& c : images()) {
        SCOPED_TRACE(c.what);
        char reason[200];
        err::describe_log_check(check_bytes(c.bytes), reason, sizeof reason);
        EXPECT_EQ(check_bytes(c.bytes).fault, c.fault);
        EXPECT_STREQ(reason, c.reason);
        err::reset_task_state();
        write_file(bak_of(1), "an older backup");
        write_file(user_path(), c.bytes);
        rtx_host_console_clear();
        ASSERT_TRUE(err::init_log_file(1));
        EXPECT_EQ(console(), "");
        EXPECT_EQ(err::log_slot(1).stream, nullptr);
        const bool valid = c.fault == err::LogFault::none;
        EXPECT_EQ(read_file(bak_of(1)), valid ? "an older backup" : c.bytes);
        EXPECT_EQ(bytes_of(1), valid ? c.bytes : new_file());
        EXPECT_EQ(header(1), c.loaded);
    }
}

TEST_F(LogSetup, BackupNameCutsThePathAtItsFirstDot) {
    // A "." in a folder name: everything from it on is replaced.
    fs::create_directories(root_ / "A.B" / "LOG");
    write_ini("[ErrorTask]\nUserLogFile=\\A.B\\LOG\\USERERR.LOG\n");
    write_file(root_ / "A.B" / "LOG" / "USERERR.LOG", "corrupt");
    ASSERT_TRUE(err::init_log_file(1));
    EXPECT_EQ(read_file(root_ / "A.BAK"), "corrupt");
    EXPECT_EQ(read_file(root_ / "A.B" / "LOG" / "USERERR.LOG"), new_file());

    // No "." at all: ".BAK" is appended.
    err::reset_task_state();
    write_ini("[ErrorTask]\nUserLogFile=\\LOG\\USERERR\n");
    write_file(root_ / "LOG" / "USERERR", "corrupt too");
    ASSERT_TRUE(err::init_log_file(1));
    EXPECT_EQ(read_file(root_ / "LOG" / "USERERR.BAK"), "corrupt too");
    EXPECT_EQ(read_file(root_ / "LOG" / "USERERR"), new_file());
    EXPECT_EQ(console(), "");
}

// The root path is the executive's own ("D:"), whatever the host folder is called: with the
// keys missing, each corrupt log is moved to its backup beside it, also when the folder's path
// holds dots or blanks or is relative.
TEST_F(LogSetup, DefaultLogsAreBackedUpBesideThemselvesInAnyRootFolder) {
    const std::string system = edited(new_file(), 25, R_PREV, "001"),
                      user = new_file().substr(0, 15000);
    const fs::path home = fs::current_path();
    fs::current_path(root_);
    for (const std::string& folder :
         std::vector<std::string>{".", "a.b/r o.ot", "./x.y", (root_ / "d.d").string()}) {
        SCOPED_TRACE(folder);
        const fs::path log = fs::path(folder) / "LOG";
        fs::create_directories(log);
        write_file(fs::path(folder) / "TARNBOOT.INI", "[ErrorTask]\n");
        write_file(log / "SYSERR.LOG", system);
        write_file(log / "USERERR.LOG", user);
        rtx_host_set_root(folder.c_str());
        err::reset_task_state();
        rtx_host_console_clear();
        ASSERT_TRUE(err::init_log_file(0));
        ASSERT_TRUE(err::init_log_file(1));
        EXPECT_EQ(console(),
                  "Error Task: SystemLogFile Setting in ErrorTask section not found, using "
                  "defaults\n");
        EXPECT_STREQ(err::log_slot(1).path, "D:\\LOG\\USERERR.LOG");
        EXPECT_EQ(read_file(log / "SYSERR.BAK"), system);
        EXPECT_EQ(read_file(log / "USERERR.BAK"), user);
        EXPECT_EQ(read_file(log / "SYSERR.LOG"), new_file());
        EXPECT_EQ(read_file(log / "USERERR.LOG"), new_file());
        std::size_t files = 0;
        for (const auto& e : fs::recursive_directory_iterator(folder)) files += e.is_regular_file();
        EXPECT_EQ(files, 5u) << "TARNBOOT.INI and the four in LOG, nothing else";
        fs::remove_all(log);
    }
    fs::current_path(home);
}

TEST_F(LogSetup, FailedRenameStillGivesAFreshFile) {
    write_file(user_path(), "corrupt");
    rtx_host_fail_next(RTX_OP_FILE_RENAME, 1, RTX_E_INJECTED);
    ASSERT_TRUE(err::init_log_file(1));
    EXPECT_EQ(console(),
              "error_task (open_log_file):\n---------------------------\n"
              "Failed to rename file \\LOG\\USERERR.LOG to \\LOG\\USERERR.BAK\n");
    EXPECT_FALSE(fs::exists(bak_of(1)));
    EXPECT_EQ(bytes_of(1), new_file());
}

// The boot file decides the path: the first word of the value; the default below the root path
// "D:" when the key is missing (only the system log says so). A missing file is created there
// with the exact layout of a new log. Without a usable path the log is switched off: nothing is
// created or moved, and every later operation fails without a text.
TEST_F(LogSetup, BootConfigurationDecidesThePathAndMissingFilesAreCreated) {
    const std::string off = open_failed("D:"),
                      no_boot = "Error Task: Can't open boot.ini (registry) file\n" + off;
    const char* const folder = "";  // a folder named TARNBOOT.INI
    struct Case {
        const char* what;
        const char* ini;  // null: no boot file
        bool ini_fault;
        int log_id;
        std::string text;
        std::string path;  // empty: switched off
    };
    const char* both =
        "[ErrorTask]\nSystemLogFile=\\LOG\\SYSERR.LOG\nUserLogFile=\\LOG\\USERERR.LOG\n";
    const Case cases[] = {
        {"system log", both, false, 0, "", "\\LOG\\SYSERR.LOG"},
        {"user log", both, false, 1, "", "\\LOG\\USERERR.LOG"},
        {"first word", "[ErrorTask]\nUserLogFile=\\LOG\\FIRST.LOG second word\n", false, 1, "",
         "\\LOG\\FIRST.LOG"},
        {"system key missing", "[ErrorTask]\nOther=1\n", false, 0,
         "Error Task: SystemLogFile Setting in ErrorTask section not found, using defaults\n",
         "D:\\LOG\\SYSERR.LOG"},
        {"user key missing", "[ErrorTask]\nOther=1\n", false, 1, "", "D:\\LOG\\USERERR.LOG"},
        {"empty value", "[ErrorTask]\nUserLogFile=\n", false, 1, off, ""},
        {"blank value", "[ErrorTask]\nUserLogFile=   \n", false, 1, off, ""},
        {"no boot file", nullptr, false, 1, no_boot, ""},
        {"boot file is a folder", folder, false, 1, no_boot, ""},
        {"boot file unreadable", "[ErrorTask]\nUserLogFile=\\LOG\\USERERR.LOG\n", true, 1, no_boot,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        err::reset_task_state();
        fs::remove_all(root_ / "LOG");
        fs::create_directory(root_ / "LOG");
        fs::remove_all(root_ / "TARNBOOT.INI");
        if (c.ini == folder) fs::create_directory(root_ / "TARNBOOT.INI");
        if (c.ini && c.ini != folder) write_ini(c.ini);
        if (c.ini_fault) rtx_host_fail_next(RTX_OP_INI_READ, 1, RTX_E_INJECTED);
        rtx_host_console_clear();
        EXPECT_EQ(err::init_log_file(c.log_id), !c.path.empty());
        EXPECT_EQ(console(), c.text);
        EXPECT_EQ(err::log_slot(c.log_id).path, c.path);
        if (!c.path.empty()) {
            const std::string name = c.path.substr(c.path.rfind('\\') + 1);
            EXPECT_EQ(read_file(root_ / "LOG" / name), new_file());
            EXPECT_EQ(header(c.log_id), hdr(0, 0, 0, 0, 1));
            EXPECT_EQ(err::log_slot(c.log_id).stream, nullptr);
            continue;
        }
        EXPECT_TRUE(fs::is_empty(root_ / "LOG"));
        rtx_host_console_clear();
        EXPECT_FALSE(err::open_log_stream(1));
        EXPECT_FALSE(err::archive_error(1, 5, "text", "COMP", "f.c", 1));
        EXPECT_FALSE(err::erase_all_errors(1));
        EXPECT_EQ(console(), "");
    }
}

TEST_F(LogSetup, PathsThatDoNotFitAreRefused) {
    // Root path and default name together 260 characters.
    const std::string long_root = "D:\\" + std::string(241, 'R');
    rtx_host_set_root_path(long_root.c_str());
    write_ini("[ErrorTask]\n");
    EXPECT_FALSE(err::init_log_file(1));
    EXPECT_EQ(console(), "error_task:\n-----------\nLog file path too long: " + long_root +
                             "\\LOG\\USERERR.LOG\n");
    EXPECT_STREQ(err::log_slot(1).path, "");
    EXPECT_TRUE(fs::is_empty(root_ / "LOG"));

    // A path that fits but whose backup name would not: refused before the file is touched,
    // by start-up and by the validation alike.
    const std::string name(251, 'A');
    const std::string path = "\\LOG\\" + name;  // 256 characters, no "."
    const std::string refused = "error_task:\n-----------\nLog file path too long: " + path + "\n";
    write_file(root_ / "LOG" / name, "corrupt");
    err::reset_task_state();
    std::snprintf(err::log_slot(1).path, sizeof err::log_slot(1).path, "%s", path.c_str());
    rtx_host_console_clear();
    EXPECT_FALSE(err::open_log_file(1));
    EXPECT_EQ(console(), refused);
    EXPECT_EQ(read_file(root_ / "LOG" / name), "corrupt");
}

}  // namespace
