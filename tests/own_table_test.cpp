// The module's own table, the message-box kinds and what happens when the library is loaded.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core_helpers.h"
#include "err/err.h"
#include "library_entry.h"
#include "own_table.h"

using core_test::console;

namespace {

struct Expected {
    std::uint16_t id;
    std::uint16_t action_a;
    std::uint16_t action_b;
    const char* text;
    const char* component;
    MbKindFunction kind;
};

const Expected kExpected[] = {
    {0, 0, 0, "operation ok", nullptr, nullptr},
    {1, 0, 0, "old error macro EX_... used instead of E_...", nullptr, nullptr},
    {2, 0, 0, "%s", "QUALITY", nullptr},
    {10, 0, 0, "rtx_global_alloc failed with error status %s", "RTX", nullptr},
    {11, 0, 0, "rtx_global_free failed with error status %s", "RTX", nullptr},
    {12, 0, 0, "rtx_creatembx failed with error status %s", "RTX", nullptr},
    {13, 0, 0, "rtx_deletembx failed with error status %s", "RTX", nullptr},
    {14, 0, 0, "rtx_sendmessage failed with error status %s", "RTX", nullptr},
    {15, 0, 0, "rtx_getmessage failed with error status %s", "RTX", nullptr},
    {16, 0, 0, "rtx_catalog failed with error status %s", "RTX", nullptr},
    {17, 0, 0, "rtx_searchcatalog failed with error status %s", "RTX", nullptr},
    {18, 0, 0, "rtx_createsema failed with error status %s", "RTX", nullptr},
    {19, 0, 0, "rtx_deletesema failed with error status %s", "RTX", nullptr},
    {20, 0, 0, "rtx_getsema failed with error status %s", "RTX", nullptr},
    {21, 0, 0, "rtx_sendsema failed with error status %s", "RTX", nullptr},
    {30, 0, 0, "RTX: rtx_file_open of file %s failed", "RTX", nullptr},
    {31, 0, 0, "RTX: rtx_file_read  failed with error code %s", "RTX", nullptr},
    {32, 0, 0, "RTX: rtx_file_write failed with error code %s", "RTX", nullptr},
    {33, 0, 0, "RTX: rtx_file_seek  failed with error code %s", "RTX", nullptr},
    {34, 0, 0, "RTX: rtx_file_close failed with error code %s", "RTX", nullptr},
    {35, 0, 0, "RTX: rtx_file_copy  failed with error code %s", "RTX", nullptr},
    {36, 0, 0, "RTX: rtx_file_delete failed with error code %s", "RTX", nullptr},
    {37, 0, 0, "RTX: rtx_file_rename failed with error code %s", "RTX", nullptr},
    {38, 0, 0, "RTX: rtx_file_move  failed with error code %s", "RTX", nullptr},
    {39, 0, 0, "RTX: rtx_file_avail failed with error code %s", "RTX", nullptr},
    {40, 0, 0, "RTX: rtx_file_info  failed with error code %s", "RTX", nullptr},
    {65001, 0, 0, "Test Error: E_TEST_NO_PARAMS", "TEST", nullptr},
    {65002, 0, 0, "Test Error: E_TEST_ONE_PARAM, param1:\"%s\"", "TEST", nullptr},
    {65003, 0, 0, "Test Error: E_TEST_TWO_PARAMS, param1:\"%s\", param2:\"%s\"", "TEST", nullptr},
    {65004, 0, 0, "Test Error: E_TEST_THREE_PARAMS, param1:\"%s\", param2:\"%s\", param3:\"%s\"",
     "TEST", nullptr},
    {65005, 12, 0, "Test Error: E_TEST_MB_OK               ", "TEST", mb_ok},
    {65006, 12, 0, "Test Error: E_TEST_MB_OK_CANCEL        ", "TEST", mb_ok_cancel},
    {65007, 12, 0, "Test Error: E_TEST_MB_ABORT            ", "TEST", mb_abort},
    {65008, 12, 0, "Test Error: E_TEST_MB_ABORT_RETRY      ", "TEST", mb_abort_retry},
    {65009, 12, 0, "Test Error: E_TEST_MB_ABORT_CONTINUE   ", "TEST", mb_abort_continue},
    {65010, 12, 0, "Test Error: E_TEST_MB_AUTO_BOX         ", "TEST", mb_auto_box},
    {65011, 12, 12, "Test Error: E_TEST_MB_MODAL_CLEAR_CLOSE", "TEST", mb_modal_clear_close},
    {65012, 12, 0, "Test Error: E_TEST_MB_CLEAR_CLOSE      ", "TEST", mb_clear_close},
};

class OwnTableTest : public ::testing::Test {
  protected:
    void SetUp() override { core_test::quiet_console(); }
};

}  // namespace

TEST_F(OwnTableTest, RegisteredUnderModuleOneWhenLoaded) {
    // Nothing but the library's load has run at this point.
    ErrTableEntry* quality = E_FindErrTablebyId(2);
    ASSERT_NE(quality, nullptr);
    EXPECT_EQ(quality, err::own_error_table() + 2);
    EXPECT_STREQ(quality->text_a, "%s");
    EXPECT_STREQ(quality->component, "QUALITY");
    EXPECT_EQ(quality->state, ES_ALL);

    // Module 1 is taken by it.
    ErrTableEntry other[] = {
        {77, 0, 0, 0, 0, "x", "x", nullptr, nullptr, nullptr},
        {ERR_TABLE_END, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr}};
    E_RegisterErrorTable(1, other);
    EXPECT_EQ(console(), "E_RegisterErrorTable(): DLL Id 1 entry allready used\n");
    EXPECT_EQ(E_FindErrTablebyId(77), nullptr);

    // No task was created at load.
    EXPECT_EQ(core_test::counters().calls[RTX_OP_TASK_CREATE], 0u);
}

TEST_F(OwnTableTest, ContentsExact) {
    const ErrTableEntry* table = err::own_error_table();
    constexpr std::size_t kDefined = sizeof kExpected / sizeof kExpected[0];
    static_assert(kDefined + 1 == err::kOwnTableEntries);

    for (std::size_t i = 0; i < kDefined; ++i) {
        SCOPED_TRACE("entry " + std::to_string(i) + ", id " + std::to_string(kExpected[i].id));
        const ErrTableEntry& e = table[i];
        const Expected& x = kExpected[i];
        EXPECT_EQ(e.id, x.id);
        EXPECT_EQ(e.flags, EF_SYSTEM | EF_ARCHIVE);
        EXPECT_EQ(e.state, ES_ALL);  // written 0, set by registration
        EXPECT_EQ(e.action_a, x.action_a);
        EXPECT_EQ(e.action_b, x.action_b);
        ASSERT_NE(e.text_a, nullptr);
        ASSERT_NE(e.text_b, nullptr);
        EXPECT_EQ(std::string(e.text_a), x.text);
        EXPECT_EQ(std::string(e.text_b), x.text);
        if (x.component == nullptr) {
            EXPECT_EQ(e.component, nullptr);
        } else {
            ASSERT_NE(e.component, nullptr);
            EXPECT_STREQ(e.component, x.component);
        }
        EXPECT_EQ(e.mb_kind_a, x.kind);
        EXPECT_EQ(e.mb_kind_b, nullptr);
        EXPECT_EQ(E_FindErrTablebyId(x.id), &table[i]);
    }

    const ErrTableEntry& end = table[kDefined];
    EXPECT_EQ(end.id, ERR_TABLE_END);
    EXPECT_EQ(end.flags, 0);
    EXPECT_EQ(end.state, 0);  // registration does not touch the end entry
    EXPECT_EQ(end.action_a, 0);
    EXPECT_EQ(end.action_b, 0);
    EXPECT_STREQ(end.text_a, "END OF TABLE");
    EXPECT_EQ(end.text_b, nullptr);
    EXPECT_EQ(end.component, nullptr);
    EXPECT_EQ(end.mb_kind_a, nullptr);
    EXPECT_EQ(end.mb_kind_b, nullptr);

    // The box test texts keep their trailing blanks: 39 characters each.
    for (std::uint16_t id = 65005; id <= 65012; ++id) {
        ASSERT_NE(E_FindErrTablebyId(id), nullptr);
        EXPECT_EQ(std::strlen(E_FindErrTablebyId(id)->text_a), 39u) << id;
    }

    // Numbers the table leaves out.
    for (unsigned id = 3; id <= 9; ++id) EXPECT_EQ(E_FindErrTablebyId(id), nullptr) << id;
    for (unsigned id = 22; id <= 29; ++id) EXPECT_EQ(E_FindErrTablebyId(id), nullptr) << id;
    for (unsigned id = 41; id <= 65000; ++id)
        ASSERT_EQ(E_FindErrTablebyId(static_cast<std::uint16_t>(id)), nullptr) << id;
    EXPECT_EQ(E_FindErrTablebyId(65013), nullptr);
    EXPECT_EQ(E_FindErrTablebyId(65534), nullptr);
}

TEST_F(OwnTableTest, MessageBoxKindsExact) {
    struct KindExpected {
        const char* name;
        MbKindFunction fn;
        std::uint16_t flags;
        std::uint16_t default_code;
        std::uint16_t second_code;
        std::vector<std::pair<std::string, std::uint16_t>> buttons;
    };
    const KindExpected kinds[] = {
        {"mb_ok", mb_ok, 0x0C, 3, 3, {{"OK", 3}}},
        {"mb_ok_cancel", mb_ok_cancel, 0x04, 3, 3, {{"OK", 3}, {"CANCEL", 4}}},
        {"mb_abort", mb_abort, 0x04, 0, 0, {{"ABORT", 6}}},
        {"mb_abort_retry", mb_abort_retry, 0x04, 0, 0, {{"ABORT", 6}, {"RETRY", 5}}},
        {"mb_abort_continue", mb_abort_continue, 0x04, 7, 7, {{"ABORT", 6}, {"CONTINUE", 7}}},
        {"mb_nonmodal_abort_continue",
         mb_nonmodal_abort_continue,
         0x00,
         7,
         7,
         {{"ABORT", 6}, {"CONTINUE", 7}}},
        {"mb_auto_box", mb_auto_box, 0x01, 0, 0, {}},
        {"mb_modal_clear_close", mb_modal_clear_close, 0x04, 0, 0, {}},
        {"mb_clear_close", mb_clear_close, 0x00, 0, 0, {}},
    };
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.name);
        const MbKind* kind = k.fn();
        ASSERT_NE(kind, nullptr);
        EXPECT_EQ(k.fn(), kind);  // the same description on every call
        EXPECT_EQ(kind->flags, k.flags);
        EXPECT_EQ(kind->button_count, k.buttons.size());
        EXPECT_EQ(kind->default_code, k.default_code);
        EXPECT_EQ(kind->second_code, k.second_code);
        for (std::size_t b = 0; b < MB_KIND_MAX_BUTTONS; ++b) {
            if (b < k.buttons.size()) {
                ASSERT_NE(kind->buttons[b], nullptr) << b;
                EXPECT_EQ(std::string(kind->buttons[b]->label), k.buttons[b].first);
                EXPECT_EQ(kind->buttons[b]->code, k.buttons[b].second);
            } else {
                EXPECT_EQ(kind->buttons[b], nullptr) << b;
            }
        }
    }
    // Buttons are shared: the OK of mb_ok is the OK of mb_ok_cancel.
    EXPECT_EQ(mb_ok()->buttons[0], mb_ok_cancel()->buttons[0]);
    // mb_clear_close is all zero.
    const MbKind zero{};
    EXPECT_EQ(std::memcmp(mb_clear_close(), &zero, sizeof zero), 0);
}

TEST_F(OwnTableTest, InitFunctionRegisteredOnceAndReportsFailedTaskCreation) {
    ErrTableEntry other[] = {
        {4242, 0, 0, 0, 0, "x", "x", nullptr, nullptr, nullptr},
        {ERR_TABLE_END, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr}};
    E_RegisterErrorTable(12, other);

    // The load registered init_function exactly once: the system start runs it once, and the
    // refused creation prints both texts once.
    rtx_host_fail_next(RTX_OP_TASK_CREATE, 1, RTX_E_INJECTED);
    rtx_host_system_start();
    EXPECT_EQ(console(), "Error creating Error Task\nERROR: FAILED TO CREATE ERROR TASK");
    EXPECT_EQ(core_test::counters().calls[RTX_OP_TASK_CREATE], 1u);

    // The tables registered before stay.
    EXPECT_EQ(E_FindErrTablebyId(4242), &other[0]);
    EXPECT_EQ(E_FindErrTablebyId(2), err::own_error_table() + 2);

    // init_function called directly does the same.
    rtx_host_console_clear();
    rtx_host_fail_next(RTX_OP_TASK_CREATE, 1, RTX_E_INJECTED);
    init_function();
    EXPECT_EQ(console(), "Error creating Error Task\nERROR: FAILED TO CREATE ERROR TASK");
    EXPECT_EQ(E_FindErrTablebyId(4242), &other[0]);
}

TEST_F(OwnTableTest, EntryFunctionActsOnAttachOnly) {
    EXPECT_EQ(DllMain(nullptr, 0, nullptr), 1);
    EXPECT_EQ(DllMain(nullptr, 2, nullptr), 1);
    EXPECT_EQ(DllMain(nullptr, 3, nullptr), 1);
    EXPECT_EQ(console(), "");

    // Removing the own table and attaching again registers it anew, with fresh switches.
    E_RemoveErrorTable(1);
    ASSERT_EQ(E_FindErrTablebyId(2), nullptr);
    err::own_error_table()[2].state = 0;
    EXPECT_EQ(DllMain(nullptr, 1, nullptr), 1);
    EXPECT_EQ(console(), "");
    ASSERT_EQ(E_FindErrTablebyId(2), err::own_error_table() + 2);
    EXPECT_EQ(err::own_error_table()[2].state, ES_ALL);

    // Attaching once more finds module 1 taken.
    EXPECT_EQ(DllMain(nullptr, 1, nullptr), 1);
    EXPECT_EQ(console(), "E_RegisterErrorTable(): DLL Id 1 entry allready used\n");
}
