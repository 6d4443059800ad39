// Setting up the logs at start: configuration, validation, backup of corrupt files, creation.
#include <string>
#include <vector>

#include "log_test_helpers.h"

using namespace log_test;
namespace fs = std::filesystem;

namespace {

const std::string kUser = "\\LOG\\USERERR.LOG";
const std::string kUserBak = "\\LOG\\USERERR.BAK";

std::string open_failed(const std::string& path) {
    return "error_task:\n-----------\nFailed to open file " + path + "\n";
}
std::string write_failed(const std::string& path) {
    return "error_task:\n-------------Failed to write to log file " + path + "\n";
}

// Errors 3 (oldest), 7, 5 (newest), overflow record 9, the rest free.
std::string valid_image() {
    std::vector<unsigned> free_chain = {1, 2, 4, 6, 8};
    for (unsigned n = 10; n <= 25; ++n) free_chain.push_back(n);
    return image_with({3, 7, 5}, free_chain, 9, 4);
}

class LogSetup : public LogTest {};

TEST_F(LogSetup, MissingFilesAreCreatedWithTheExactLayout) {
    for (int log_id : {0, 1}) {
        ASSERT_TRUE(err::init_log_file(log_id));
        EXPECT_EQ(console(), "");
        std::string bytes = bytes_of(log_id);
        EXPECT_EQ(bytes.size(), kFile);
        EXPECT_EQ(bytes, new_file());
        EXPECT_EQ(header(log_id), hdr(0, 0, 0, 0, 1));
        EXPECT_EQ(err::log_slot(log_id).stream, nullptr);
    }
    EXPECT_STREQ(err::log_slot(0).path, "\\LOG\\SYSERR.LOG");
    EXPECT_STREQ(err::log_slot(1).path, "\\LOG\\USERERR.LOG");
    EXPECT_TRUE(check_bytes(new_file()).ok());
}

TEST_F(LogSetup, ValidFileIsUsedUnchangedAndItsHeaderLoaded) {
    const std::string image = valid_image();
    ASSERT_TRUE(check_bytes(image).ok());
    write_file(user_path(), image);
    ASSERT_TRUE(err::init_log_file(1));
    EXPECT_EQ(console(), "");
    EXPECT_EQ(bytes_of(1), image);
    EXPECT_FALSE(fs::exists(bak_of(1)));
    EXPECT_EQ(header(1), hdr(5, 3, 4, 9, 1));
    EXPECT_EQ(err::log_slot(1).stream, nullptr);

    // A chain whose last link is above 25 ends there: still valid while every record is
    // accounted for.
    std::string ends_high = new_file();
    set_rfield(ends_high, 25, R_PREV, "026");
    write_file(user_path(), ends_high);
    err::reset_task_state();
    ASSERT_TRUE(err::init_log_file(1));
    EXPECT_EQ(bytes_of(1), ends_high);
    EXPECT_FALSE(fs::exists(bak_of(1)));
    EXPECT_EQ(console(), "");
}

struct Corruption {
    const char* what;
    std::string bytes;
    err::LogFault fault;
};

std::vector<Corruption> corruptions() {
    std::vector<Corruption> c;
    const std::string fresh = new_file();
    c.push_back({"empty file", "", err::LogFault::header_short});
    c.push_back({"shorter than a header", fresh.substr(0, 372), err::LogFault::header_short});
    c.push_back({"15847 bytes", fresh.substr(0, kFile - 1), err::LogFault::length_mismatch});
    c.push_back({"15849 bytes", fresh + "x", err::LogFault::length_mismatch});
    std::string field = fresh;
    set_hfield(field, H_LENGTH, "15847");
    c.push_back({"length field 15847", field, err::LogFault::length_mismatch});
    std::string longer = fresh + record_bytes(new_record(26));
    set_hfield(longer, H_LENGTH, "16467");
    c.push_back({"26 records, length field agrees", longer, err::LogFault::length_not_standard});
    std::string overflow = fresh;
    set_hfield(overflow, H_OVERFLOW, "026");
    c.push_back({"overflow record 026", overflow, err::LogFault::overflow_out_of_range});
    std::string loop = fresh;
    set_rfield(loop, 25, R_PREV, "001");
    c.push_back({"free chain loops", loop, err::LogFault::record_met_twice});
    std::string shared = fresh;
    set_hfield(shared, H_START, "003");
    set_hfield(shared, H_END, "003");
    c.push_back({"error chain shares a free record", shared, err::LogFault::record_met_twice});
    std::string on_chain = fresh;
    set_hfield(on_chain, H_OVERFLOW, "005");
    c.push_back({"overflow record on the free chain", on_chain, err::LogFault::record_met_twice});
    std::string lost = fresh;
    set_rfield(lost, 10, R_PREV, "000");
    c.push_back({"records 11 to 25 on no chain", lost, err::LogFault::record_unaccounted});
    std::string forward = valid_image();
    set_rfield(forward, 3, R_NEXT, "000");
    c.push_back({"forward links broken", forward, err::LogFault::record_unaccounted});
    std::string error_loop = valid_image();
    set_rfield(error_loop, 3, R_PREV, "005");
    c.push_back({"error chain loops", error_loop, err::LogFault::record_met_twice});
    return c;
}

TEST_F(LogSetup, CorruptFilesAreMovedToTheBackupAndReplaced) {
    for (const Corruption& c : corruptions()) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(check_bytes(c.bytes).fault, c.fault);
        err::reset_task_state();
        write_file(bak_of(1), "an older backup");
        write_file(user_path(), c.bytes);
        rtx_host_console_clear();
        ASSERT_TRUE(err::init_log_file(1));
        EXPECT_EQ(console(), "");
        // Only the last corrupt file survives as the backup.
        EXPECT_EQ(read_file(bak_of(1)), c.bytes);
        EXPECT_EQ(bytes_of(1), new_file());
        EXPECT_EQ(header(1), hdr(0, 0, 0, 0, 1));
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

TEST_F(LogSetup, FailedRenameStillGivesAFreshFile) {
    write_file(user_path(), "corrupt");
    rtx_host_fail_next(RTX_OP_FILE_RENAME, 1, RTX_E_INJECTED);
    ASSERT_TRUE(err::init_log_file(1));
    EXPECT_EQ(console(),
              "error_task (open_log_file):\n---------------------------\n"
              "Failed to rename file " +
                  kUser + " to " + kUserBak + "\n");
    EXPECT_FALSE(fs::exists(bak_of(1)));
    EXPECT_EQ(bytes_of(1), new_file());
}

TEST_F(LogSetup, BootConfigurationDecidesThePath) {
    // Only the first word of the value is the path.
    write_ini("[ErrorTask]\nUserLogFile=\\LOG\\FIRST.LOG second word\n");
    ASSERT_TRUE(err::init_log_file(1));
    EXPECT_STREQ(err::log_slot(1).path, "\\LOG\\FIRST.LOG");
    EXPECT_EQ(read_file(root_ / "LOG" / "FIRST.LOG"), new_file());
    EXPECT_EQ(console(), "");

    // Key missing: the default below the root path; only the system log says so.
    err::reset_task_state();
    write_ini("[ErrorTask]\nOther=1\n");
    ASSERT_TRUE(err::init_log_file(0));
    EXPECT_EQ(console(),
              "Error Task: SystemLogFile Setting in ErrorTask section not found, using defaults\n");
    EXPECT_EQ(std::string(err::log_slot(0).path), root_.string() + "\\LOG\\SYSERR.LOG");
    EXPECT_EQ(bytes_of(0), new_file());
    rtx_host_console_clear();
    ASSERT_TRUE(err::init_log_file(1));
    EXPECT_EQ(console(), "");
    EXPECT_EQ(std::string(err::log_slot(1).path), root_.string() + "\\LOG\\USERERR.LOG");
    EXPECT_EQ(bytes_of(1), new_file());
}

TEST_F(LogSetup, NoUsablePathSwitchesTheLogOff) {
    const std::string bare_root_failed = open_failed(root_.string());
    struct Case {
        const char* what;
        const char* ini;  // null: no boot file
        bool inject_ini_fault;
        std::string text;
    };
    const Case cases[] = {
        {"empty value", "[ErrorTask]\nUserLogFile=\n", false, bare_root_failed},
        {"blank value", "[ErrorTask]\nUserLogFile=   \n", false, bare_root_failed},
        {"no boot file", nullptr, false,
         "Error Task: Can't open boot.ini (registry) file\n" + bare_root_failed},
        {"boot file unreadable", "[ErrorTask]\nUserLogFile=\\LOG\\USERERR.LOG\n", true,
         "Error Task: Can't open boot.ini (registry) file\n" + bare_root_failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        err::reset_task_state();
        fs::remove(root_ / "TARNBOOT.INI");
        if (c.ini) write_ini(c.ini);
        if (c.inject_ini_fault) rtx_host_fail_next(RTX_OP_INI_READ, 1, RTX_E_INJECTED);
        rtx_host_console_clear();
        EXPECT_FALSE(err::init_log_file(1));
        EXPECT_EQ(console(), c.text);
        EXPECT_STREQ(err::log_slot(1).path, "");
        EXPECT_TRUE(fs::is_empty(root_ / "LOG"));  // nothing created, nothing moved

        // A switched-off log fails every later operation without a text.
        rtx_host_console_clear();
        EXPECT_FALSE(err::open_log_stream(1));
        EXPECT_FALSE(err::archive_error(1, 5, "text", "COMP", "f.c", 1));
        EXPECT_FALSE(err::erase_all_errors(1));
        EXPECT_EQ(console(), "");
    }
}

TEST_F(LogSetup, PathsThatDoNotFitAreRefused) {
    // Root path and default name together longer than 259 characters.
    const std::string long_root = "/tmp/" + std::string(245, 'r');
    rtx_host_set_ini_dir(root_.c_str());
    rtx_host_set_root(long_root.c_str());
    write_ini("[ErrorTask]\n");
    EXPECT_FALSE(err::init_log_file(1));
    EXPECT_EQ(console(), "error_task:\n-----------\nLog file path too long: " + long_root +
                             "\\LOG\\USERERR.LOG\n");
    EXPECT_STREQ(err::log_slot(1).path, "");
    rtx_host_set_root(root_.c_str());

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

TEST_F(LogSetup, CreationFailuresSwitchTheLogOffAndRecoverAtTheNextStart) {
    struct Case {
        const char* what;
        rtx_host_op op;
        std::uint32_t skip;
        std::string text;
    };
    // Calls while creating: open "rb" (fails: no file), open "wb"; writes: header, 25
    // records, header again; one seek before the last write.
    const Case cases[] = {
        {"open for writing", RTX_OP_FILE_OPEN, 1, open_failed(kUser)},
        {"first header write", RTX_OP_FILE_WRITE, 0, write_failed(kUser)},
        {"fifth record", RTX_OP_FILE_WRITE, 5, write_failed(kUser)},
        {"last header write", RTX_OP_FILE_WRITE, 26, write_failed(kUser)},
        {"seek back to the header", RTX_OP_FILE_SEEK, 0, write_failed(kUser)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        err::reset_task_state();
        fs::remove(user_path());
        rtx_host_clear_faults();
        rtx_host_fail(c.op, c.skip, 1, RTX_E_INJECTED);
        rtx_host_console_clear();
        EXPECT_FALSE(err::init_log_file(1));
        EXPECT_EQ(console(), c.text);
        EXPECT_STREQ(err::log_slot(1).path, "");
        // What was left behind is replaced at the next start.
        rtx_host_clear_faults();
        err::reset_task_state();
        EXPECT_TRUE(err::init_log_file(1));
        EXPECT_EQ(bytes_of(1), new_file());
    }
}

TEST_F(LogSetup, FailuresWhileValidatingTreatTheFileAsCorrupt) {
    const std::string image = valid_image();
    struct Case {
        const char* what;
        rtx_host_op op;
        std::uint32_t skip;
        std::string text;
    };
    // Calls while validating: open "rb", open "r+b"; seek to the start, read the header,
    // seek to the end; then per record of the walks a seek and a read.
    const Case cases[] = {
        {"read-write open", RTX_OP_FILE_OPEN, 1, open_failed(kUser)},
        {"header read", RTX_OP_FILE_READ, 0, ""},
        {"seek to the end", RTX_OP_FILE_SEEK, 1, ""},
        {"seek to a record", RTX_OP_FILE_SEEK, 2,
         "error_task:\n-----------\nFailed to position to record 1\nin log file " + kUser + "\n"},
        {"record read", RTX_OP_FILE_READ, 3,
         "error_task:\n-----------\nFailed to read from log file " + kUser + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        err::reset_task_state();
        fs::remove(bak_of(1));
        write_file(user_path(), image);
        rtx_host_clear_faults();
        rtx_host_fail(c.op, c.skip, 1, RTX_E_INJECTED);
        rtx_host_console_clear();
        EXPECT_TRUE(err::init_log_file(1));
        EXPECT_EQ(console(), c.text);
        EXPECT_EQ(read_file(bak_of(1)), image);
        EXPECT_EQ(bytes_of(1), new_file());
        EXPECT_EQ(header(1), hdr(0, 0, 0, 0, 1));
    }
}

}  // namespace
