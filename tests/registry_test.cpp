// The error table registry: lookup order, refusals and their console texts, removal,
// run-time switches at registration and the re-arming of show-once errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core_helpers.h"
#include "err/err.h"
#include "own_table.h"
#include "registry.h"

using core_test::console;

namespace {

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { core_test::quiet_console(); }
};

ErrTableEntry entry(std::uint16_t id, std::uint16_t flags, const char* text) {
    return ErrTableEntry{id, flags, 0, 0, 0, text, text, "COMP", nullptr, nullptr};
}

ErrTableEntry end_entry() {
    return ErrTableEntry{ERR_TABLE_END, 0, 0, 0, 0, "END", nullptr, nullptr, nullptr, nullptr};
}

// The console text since the last call; the console starts empty again.
std::string take_console() {
    const std::string text = console();
    rtx_host_console_clear();
    return text;
}

using States = std::vector<std::uint16_t>;

// The run-time switches of the first count entries of table.
States states(const ErrTableEntry* table, std::size_t count) {
    States out;
    for (std::size_t i = 0; i < count; ++i) out.push_back(table[i].state);
    return out;
}

}  // namespace

// A lookup finds the entry of the lowest module number, and the first such entry in a table.
TEST_F(RegistryTest, LowestModuleAndFirstEntryWin) {
    // The own table (module 1) defines 12; a table under module 3 defines it too.
    ErrTableEntry table3[] = {entry(500, 0, "first 500"), entry(12, 0, "twelve of 3"),
                              entry(500, 0, "second 500"), entry(701, 0, "only in 3"), end_entry()};
    E_RegisterErrorTable(3, table3);
    EXPECT_EQ(console(), "");

    ErrTableEntry* own12 = E_FindErrTablebyId(12);
    ASSERT_NE(own12, nullptr);
    EXPECT_EQ(own12, err::own_error_table() + 5);
    EXPECT_STREQ(own12->text_a, "rtx_creatembx failed with error status %s");

    EXPECT_EQ(E_FindErrTablebyId(500), &table3[0]);  // first entry of the table wins
    EXPECT_EQ(E_FindErrTablebyId(701), &table3[3]);
    EXPECT_EQ(E_FindErrTablebyId(702), nullptr);

    // Without module 1 the entry of module 3 is found.
    E_RemoveErrorTable(1);
    EXPECT_EQ(E_FindErrTablebyId(12), &table3[1]);
    EXPECT_EQ(E_FindErrTablebyId(2), nullptr);

    // A table under a lower number takes precedence over module 3.
    ErrTableEntry table0[] = {entry(701, 0, "701 of 0"), end_entry()};
    E_RegisterErrorTable(0, table0);
    EXPECT_EQ(E_FindErrTablebyId(701), &table0[0]);
    EXPECT_EQ(E_FindErrTablebyId(12), &table3[1]);
    EXPECT_EQ(console(), "");
}

// Searching for the end number finds the end entry of the lowest registered table.
TEST_F(RegistryTest, SearchForEndNumberFindsEndEntryOfLowestTable) {
    // At start only the own table is registered: its end entry is found.
    ErrTableEntry* end = E_FindErrTablebyId(ERR_TABLE_END);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end, err::own_error_table() + (err::kOwnTableEntries - 1));
    EXPECT_STREQ(end->text_a, "END OF TABLE");

    ErrTableEntry table5[] = {entry(42, 0, "x"), end_entry()};
    E_RegisterErrorTable(5, table5);
    EXPECT_EQ(E_FindErrTablebyId(ERR_TABLE_END), end);

    ErrTableEntry table0[] = {entry(43, 0, "y"), end_entry()};
    E_RegisterErrorTable(0, table0);
    EXPECT_EQ(E_FindErrTablebyId(ERR_TABLE_END), &table0[1]);

    // No table at all: nothing is found.
    E_RemoveErrorTable(0);
    E_RemoveErrorTable(1);
    E_RemoveErrorTable(5);
    EXPECT_EQ(E_FindErrTablebyId(ERR_TABLE_END), nullptr);
}

// Numbers out of range, a taken module and a null table are refused with their console texts.
TEST_F(RegistryTest, RefusalsPrintExactTextsAndChangeNothing) {
    ErrTableEntry table[] = {entry(900, EF_SYSTEM, "nine hundred"), end_entry()};

    E_RegisterErrorTable(20, table);
    E_RegisterErrorTable(32768, table);
    E_RegisterErrorTable(65535, table);
    E_RegisterErrorTable(40000, table);
    EXPECT_EQ(take_console(),
              "E_RegisterErrorTable(): DLL Id 20 out of range\n"
              "E_RegisterErrorTable(): DLL Id -32768 out of range\n"
              "E_RegisterErrorTable(): DLL Id -1 out of range\n"
              "E_RegisterErrorTable(): DLL Id -25536 out of range\n");
    EXPECT_EQ(table[0].state, 0);  // not touched
    EXPECT_EQ(E_FindErrTablebyId(900), nullptr);

    // Module 1 holds the own table: the second table is refused and the first stays.
    E_RegisterErrorTable(1, table);
    EXPECT_EQ(take_console(), "E_RegisterErrorTable(): DLL Id 1 entry allready used\n");
    EXPECT_EQ(E_FindErrTablebyId(900), nullptr);
    ASSERT_NE(E_FindErrTablebyId(2), nullptr);
    EXPECT_STREQ(E_FindErrTablebyId(2)->component, "QUALITY");
    EXPECT_EQ(table[0].state, 0);

    E_RegisterErrorTable(4, nullptr);
    EXPECT_EQ(take_console(), "E_RegisterErrorTable(): DLL Id 4 null table\n");
    // The slot stayed empty: a real table can take it.
    E_RegisterErrorTable(4, table);
    EXPECT_EQ(take_console(), "");
    EXPECT_EQ(E_FindErrTablebyId(900), &table[0]);

    E_RemoveErrorTable(20);
    E_RemoveErrorTable(32768);
    EXPECT_EQ(take_console(),
              "E_RemoveErrorTable(): DLL Id 20 out of range"
              "E_RemoveErrorTable(): DLL Id -32768 out of range");
    EXPECT_EQ(E_FindErrTablebyId(900), &table[0]);
    EXPECT_NE(E_FindErrTablebyId(2), nullptr);
}

// Registration sets the switches of every entry but the end entry to ES_ALL, again after a
// removal; removal empties the slot and leaves the table as it is.
TEST_F(RegistryTest, RegistrationSetsSwitchesAndRemovalEmptiesTheSlot) {
    ErrTableEntry table[] = {entry(600, 0, "a"), entry(601, EF_SYSTEM, "b"),
                             entry(602, EF_SHOW_ONCE, "c"), end_entry()};
    table[3].state = 0x0123;  // the end entry's state is never written
    E_RegisterErrorTable(7, table);
    EXPECT_EQ(states(table, 4), (States{31, 31, 31, 0x0123}));
    ASSERT_EQ(E_FindErrTablebyId(601), &table[1]);

    E_RemoveErrorTable(7);
    EXPECT_EQ(E_FindErrTablebyId(600), nullptr);
    EXPECT_EQ(E_FindErrTablebyId(601), nullptr);
    EXPECT_EQ(table[1].id, 601);
    EXPECT_EQ(table[1].state, ES_ALL);
    E_RemoveErrorTable(7);   // empty slot: harmless
    E_RemoveErrorTable(19);  // never used
    EXPECT_EQ(console(), "");

    table[0].state = 0;
    table[1].state = ES_ENABLED;
    E_RegisterErrorTable(7, table);
    EXPECT_EQ(states(table, 4), (States{ES_ALL, ES_ALL, ES_ALL, 0x0123}));
    EXPECT_EQ(E_FindErrTablebyId(600), &table[0]);

    // The last slot is usable.
    ErrTableEntry last[] = {entry(850, 0, "c"), end_entry()};
    E_RegisterErrorTable(19, last);
    EXPECT_EQ(E_FindErrTablebyId(850), &last[0]);

    // A table whose first entry is the end entry registers and adds nothing...
    ErrTableEntry empty[] = {end_entry()};
    E_RegisterErrorTable(0, empty);
    EXPECT_EQ(console(), "");
    EXPECT_EQ(empty[0].state, 0);
    EXPECT_EQ(E_FindErrTablebyId(600), &table[0]);
    EXPECT_EQ(E_FindErrTablebyId(2), err::own_error_table() + 2);
    // ...but its end entry is now the lowest one.
    EXPECT_EQ(E_FindErrTablebyId(ERR_TABLE_END), &empty[0]);
}

// Show-once errors are re-armed for system errors (selector 0) or user errors (any other).
TEST_F(RegistryTest, ShowOnceFlagIsReArmedByClass) {
    ErrTableEntry table[] = {entry(300, EF_SYSTEM | EF_SHOW_ONCE, "sys"),
                             entry(301, EF_SHOW_ONCE, "user"),
                             entry(302, EF_SYSTEM | EF_ARCHIVE, "sys2"),
                             entry(303, EF_ARCHIVE | EF_IEC_TEXT, "user2"), end_entry()};
    E_RegisterErrorTable(6, table);
    table[0].state = ES_ENABLED | ES_ARCHIVE;  // 0x05
    table[1].state = ES_ENABLED;
    table[2].state = 0;
    table[3].state = ES_BOX;
    table[4].state = 0;
    ErrTableEntry* own = err::own_error_table();
    own[2].state = ES_ENABLED;  // a system error of module 1

    E_enable_show_once_flag(0);  // system errors; the end entry is untouched
    EXPECT_EQ(states(table, 5), (States{ES_ENABLED | ES_ARCHIVE | ES_NOT_SHOWN, ES_ENABLED,
                                        ES_NOT_SHOWN, ES_BOX, 0}));
    EXPECT_EQ(own[2].state, ES_ENABLED | ES_NOT_SHOWN);

    table[0].state = 0;
    own[2].state = 0;
    E_enable_show_once_flag(5);  // user errors
    EXPECT_EQ(states(table, 5),
              (States{0, ES_ENABLED | ES_NOT_SHOWN, ES_NOT_SHOWN, ES_BOX | ES_NOT_SHOWN, 0}));
    EXPECT_EQ(own[2].state, 0);

    table[1].state = ES_ENABLED;
    E_enable_show_once_flag(-1);  // any non-zero selector means user errors
    EXPECT_EQ(states(table, 2), (States{0, ES_ENABLED | ES_NOT_SHOWN}));

    // Removed tables are not touched.
    E_RemoveErrorTable(6);
    table[2].state = 0;
    E_enable_show_once_flag(0);
    EXPECT_EQ(table[2].state, 0);
    EXPECT_EQ(console(), "");
}

// The first-use preparation keeps the tables registered at load.
TEST_F(RegistryTest, PreparationKeepsRegisteredTables) {
    // init_function runs it after modules registered at load.
    ErrTableEntry table[] = {entry(4000, 0, "kept"), end_entry()};
    E_RegisterErrorTable(11, table);
    err::registry_prepare();
    err::registry_prepare();
    EXPECT_EQ(E_FindErrTablebyId(4000), &table[0]);
    EXPECT_EQ(E_FindErrTablebyId(2), err::own_error_table() + 2);
}

// A registration watcher sees each table before the registry; a table it refuses is not
// walked and not registered, silently. registered_table names each slot's table.
TEST_F(RegistryTest, WatcherSeesEveryTableFirstAndMayKeepItOut) {
    static std::vector<std::pair<std::uint16_t, const ErrTableEntry*>> seen;
    err::set_registration_watcher([](std::uint16_t module, const ErrTableEntry* table) {
        seen.push_back({module, table});
        return module != 4;
    });
    ErrTableEntry table[] = {entry(900, 0, "nine hundred"), end_entry()};
    E_RegisterErrorTable(4, table);
    EXPECT_EQ(err::registered_table(4), nullptr);
    EXPECT_EQ(table[0].state, 0);
    E_RegisterErrorTable(3, table);
    E_RegisterErrorTable(20, table);
    err::set_registration_watcher(nullptr);
    E_RegisterErrorTable(5, table);
    using Seen = std::vector<std::pair<std::uint16_t, const ErrTableEntry*>>;
    EXPECT_EQ(seen, (Seen{{4, table}, {3, table}, {20, table}}));
    EXPECT_EQ(take_console(), "E_RegisterErrorTable(): DLL Id 20 out of range\n");
    EXPECT_EQ(err::registered_table(3), table);
    EXPECT_EQ(err::registered_table(5), table);
    EXPECT_EQ(err::registered_table(1), err::own_error_table());
    EXPECT_EQ(err::registered_table(0), nullptr);
    EXPECT_EQ(err::registered_table(20), nullptr);
}
