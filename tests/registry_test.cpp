// The error table registry: lookup order, refusals and their console texts, removal, switches
// set at registration, re-armed show-once errors, and the library entry that registers.
#include "core_helpers.h"
#include "library_entry.h"
#include "own_table.h"
#include "registry.h"

using core_test::console;

namespace {

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { core_test::quiet_console(); }
};

ErrTableEntry entry(std::uint16_t id, std::uint16_t flags = 0) {
    return ErrTableEntry{id, flags, 0, 0, 0, "text", "text", "COMP", nullptr, nullptr};
}

ErrTableEntry* own(std::size_t index) {
    return err::own_error_table() + index;
}

using States = std::vector<std::uint16_t>;

States states(const ErrTableEntry* table, std::size_t count) {
    States out;
    for (std::size_t i = 0; i < count; ++i) out.push_back(table[i].state);
    return out;
}

}  // namespace

// A lookup finds the entry of the lowest module number, and the first such entry in a table;
// a search for the end number finds the end entry of the lowest table, none without tables.
// Registration sets the switches of every entry but the end entry to ES_ALL, again after a
// removal; removal empties the slot and leaves the table as it is. The first-use preparation
// keeps registered tables.
TEST_F(RegistryTest, LookupOrderRegistrationAndRemoval) {
    ErrTableEntry t3[] = {entry(500), entry(12), entry(500), entry(701), entry(ERR_TABLE_END)};
    ErrTableEntry t0[] = {entry(701), entry(ERR_TABLE_END)};
    t3[4].state = 0x0123;
    E_RegisterErrorTable(3, t3);
    EXPECT_EQ(states(t3, 5), (States{ES_ALL, ES_ALL, ES_ALL, ES_ALL, 0x0123}));
    EXPECT_EQ(E_FindErrTablebyId(12), own(5));
    EXPECT_EQ(E_FindErrTablebyId(500), &t3[0]);
    EXPECT_EQ(E_FindErrTablebyId(701), &t3[3]);
    EXPECT_EQ(E_FindErrTablebyId(ERR_TABLE_END), own(err::kOwnTableEntries - 1));
    E_RemoveErrorTable(1);
    EXPECT_EQ(E_FindErrTablebyId(12), &t3[1]);
    EXPECT_EQ(E_FindErrTablebyId(2), nullptr);
    E_RegisterErrorTable(0, t0);
    EXPECT_EQ(E_FindErrTablebyId(701), &t0[0]);
    EXPECT_EQ(E_FindErrTablebyId(ERR_TABLE_END), &t0[1]);
    t3[0].state = 0;
    E_RemoveErrorTable(3);
    E_RemoveErrorTable(3);  // an empty slot: harmless
    EXPECT_EQ(E_FindErrTablebyId(500), nullptr);
    EXPECT_EQ(states(t3, 2), (States{0, ES_ALL}));
    E_RegisterErrorTable(19, t3);
    err::registry_prepare();
    EXPECT_EQ(states(t3, 5), (States{ES_ALL, ES_ALL, ES_ALL, ES_ALL, 0x0123}));
    EXPECT_EQ(E_FindErrTablebyId(500), &t3[0]);
    ErrTableEntry empty[] = {entry(ERR_TABLE_END)};
    E_RemoveErrorTable(0);
    E_RegisterErrorTable(2, empty);  // adds nothing, but its end entry is the lowest now
    EXPECT_EQ(empty[0].state, 0);
    EXPECT_EQ(E_FindErrTablebyId(ERR_TABLE_END), &empty[0]);
    for (std::uint16_t module : {2, 19}) E_RemoveErrorTable(module);
    EXPECT_EQ(E_FindErrTablebyId(ERR_TABLE_END), nullptr);
    EXPECT_EQ(console(), "");
}

// Numbers out of range, a taken module and a null table are refused with their console texts
// and change nothing.
TEST_F(RegistryTest, RefusalsPrintExactTextsAndChangeNothing) {
    ErrTableEntry table[] = {entry(900), entry(ERR_TABLE_END)};
    for (std::uint16_t module : {20, 32768, 65535, 1}) E_RegisterErrorTable(module, table);
    E_RegisterErrorTable(4, nullptr);
    EXPECT_EQ(table[0].state, 0);
    EXPECT_EQ(E_FindErrTablebyId(900), nullptr);
    EXPECT_EQ(E_FindErrTablebyId(2), own(2));
    E_RegisterErrorTable(4, table);  // the slot stayed empty
    for (std::uint16_t module : {20, 32768}) E_RemoveErrorTable(module);
    EXPECT_EQ(E_FindErrTablebyId(900), &table[0]);
    EXPECT_EQ(console(),
              "E_RegisterErrorTable(): DLL Id 20 out of range\n"
              "E_RegisterErrorTable(): DLL Id -32768 out of range\n"
              "E_RegisterErrorTable(): DLL Id -1 out of range\n"
              "E_RegisterErrorTable(): DLL Id 1 entry allready used\n"
              "E_RegisterErrorTable(): DLL Id 4 null table\n"
              "E_RemoveErrorTable(): DLL Id 20 out of range"
              "E_RemoveErrorTable(): DLL Id -32768 out of range");
}

// Show-once errors are re-armed for system errors (selector 0) or user errors (any other),
// in registered tables only; other bits and the end entry stay.
TEST_F(RegistryTest, ShowOnceFlagIsReArmedByClass) {
    ErrTableEntry table[] = {entry(300, EF_SYSTEM | EF_SHOW_ONCE), entry(301, EF_SHOW_ONCE),
                             entry(302, EF_SYSTEM | EF_ARCHIVE), entry(303, EF_IEC_TEXT),
                             entry(ERR_TABLE_END)};
    E_RegisterErrorTable(6, table);
    // The switches of the table and of the own error 2 (a system error) after re-arming.
    const auto rearm = [&](std::int32_t selector) {
        for (ErrTableEntry& e : table) e.state = ES_ENABLED | ES_ARCHIVE;
        own(2)->state = ES_ENABLED | ES_ARCHIVE;
        E_enable_show_once_flag(selector);
        States after = states(table, 5);
        after.push_back(own(2)->state);
        return after;
    };
    EXPECT_EQ(rearm(0), (States{0x15, 0x05, 0x15, 0x05, 0x05, 0x15}));
    EXPECT_EQ(rearm(5), (States{0x05, 0x15, 0x05, 0x15, 0x05, 0x05}));
    EXPECT_EQ(rearm(-1), (States{0x05, 0x15, 0x05, 0x15, 0x05, 0x05}));
    E_RemoveErrorTable(6);
    EXPECT_EQ(rearm(0), (States{0x05, 0x05, 0x05, 0x05, 0x05, 0x15}));
}

// The load registered init_function once: a refused creation of the error task prints both
// texts, whether the system start or a direct call runs it, and the tables stay. The library
// entry registers the own table on attach (reason 1) only, with fresh switches.
TEST_F(RegistryTest, InitFunctionAndLibraryEntry) {
    for (int direct = 0; direct < 2; ++direct) {
        rtx_host_console_clear();
        rtx_host_fail_next(RTX_OP_TASK_CREATE, 1, RTX_E_INJECTED);
        direct ? init_function() : rtx_host_system_start();
        EXPECT_EQ(console(), "Error creating Error Task\nERROR: FAILED TO CREATE ERROR TASK");
        EXPECT_EQ(core_test::counters().calls[RTX_OP_TASK_CREATE], direct + 1u);
        EXPECT_EQ(E_FindErrTablebyId(2), own(2));
    }
    rtx_host_console_clear();
    for (std::uint32_t reason : {0, 2, 3}) EXPECT_EQ(DllMain(nullptr, reason, nullptr), 1);
    E_RemoveErrorTable(1);
    own(2)->state = 0;
    EXPECT_EQ(DllMain(nullptr, 1, nullptr), 1);
    EXPECT_EQ(console(), "");
    EXPECT_EQ(E_FindErrTablebyId(2), own(2));
    EXPECT_EQ(own(2)->state, ES_ALL);
    EXPECT_EQ(DllMain(nullptr, 1, nullptr), 1);
    EXPECT_EQ(console(), "E_RegisterErrorTable(): DLL Id 1 entry allready used\n");
}
