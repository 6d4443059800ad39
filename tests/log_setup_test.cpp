// The boot file decides each log's path (the default below the root path "D:" without a key).
// Without a usable path the log is off: nothing is created or moved, and every later operation
// fails without a text. (First words, backup names, corrupt files: the log_ script cases.)
#include <string>

#include "log_test_helpers.h"

using namespace log_test;
namespace fs = std::filesystem;

namespace {

class LogSetup : public LogTest {};

TEST_F(LogSetup, BootConfigurationDecidesThePath) {
    const std::string off = open_failed("D:"),
                      no_boot = "Error Task: Can't open boot.ini (registry) file\n" + off;
    const char* const folder = "";  // a folder named TARNBOOT.INI
    const struct {
        const char* ini;  // null: no boot file
        bool ini_fault;
        std::string text;
        std::string path;  // empty: switched off
    } cases[] = {
        {"[ErrorTask]\nOther=1\n", false, "", "D:\\LOG\\USERERR.LOG"},
        {"[ErrorTask]\nUserLogFile=  \t \n", false, off, ""},
        {nullptr, false, no_boot, ""},
        {folder, false, no_boot, ""},
        {"[ErrorTask]\nUserLogFile=\\LOG\\USERERR.LOG\n", true, no_boot, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + (c.ini ? c.ini : "(none)"));
        err::reset_task_state();
        fs::remove_all(path("LOG"));
        fs::create_directory(path("LOG"));
        fs::remove_all(path("TARNBOOT.INI"));
        if (c.ini == folder) fs::create_directory(path("TARNBOOT.INI"));
        if (c.ini && c.ini != folder) root_->write("TARNBOOT.INI", c.ini);
        if (c.ini_fault) rtx_host_fail_next(RTX_OP_INI_READ, 1, RTX_E_INJECTED);
        rtx_host_console_clear();
        EXPECT_EQ(err::init_log_file(1), !c.path.empty());
        EXPECT_EQ(console(), c.text);
        EXPECT_EQ(err::log_slot(1).path, c.path);
        if (!c.path.empty()) {
            EXPECT_TRUE(valid(read("LOG/USERERR.LOG")));
            EXPECT_EQ(header(), "0 0 0 0 1");
            EXPECT_EQ(err::log_slot(1).stream, nullptr);
            continue;
        }
        EXPECT_TRUE(fs::is_empty(path("LOG")));
        rtx_host_console_clear();
        EXPECT_FALSE(err::open_log_stream(1));
        EXPECT_FALSE(err::archive_error(1, 5, "text", "COMP", "f.c", 1));
        EXPECT_FALSE(err::erase_all_errors(1));
        EXPECT_FALSE(err::open_log_file(1));
        EXPECT_EQ(console(), "");
    }
}

// The root path and the default name together 260 characters: refused (although the backup
// name, cut at the root's dot, would fit), and the log stays off.
TEST_F(LogSetup, PathsThatDoNotFitAreRefused) {
    const std::string long_root = "D:\\A." + std::string(239, 'R');
    rtx_host_set_root_path(long_root.c_str());
    ASSERT_TRUE(root_->write("TARNBOOT.INI", "[ErrorTask]\n"));
    EXPECT_FALSE(err::init_log_file(1));
    EXPECT_EQ(console(), "error_task:\n-----------\nLog file path too long: " + long_root +
                             "\\LOG\\USERERR.LOG\n");
    EXPECT_STREQ(err::log_slot(1).path, "");
    rtx_host_console_clear();
    EXPECT_FALSE(err::archive_error(1, 5, "text", "COMP", "f.c", 1));
    EXPECT_EQ(console(), "");
    EXPECT_TRUE(fs::is_empty(path("LOG")));
    // A path without a dot whose backup name would not fit (the boot file cannot hold one).
    char backup[err::kPathSize];
    EXPECT_TRUE(err::make_backup_name(std::string(255, 'A').c_str(), backup, sizeof backup));
    EXPECT_EQ(std::string(backup), std::string(255, 'A') + ".BAK");
    EXPECT_FALSE(err::make_backup_name(std::string(256, 'A').c_str(), backup, sizeof backup));
}

}  // namespace
