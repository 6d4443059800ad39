// The module's own table, the message-box kinds and what happens when the library is loaded.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

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

// The nine message-box kinds: flags, default and second code, then each button as LABEL:code.
struct KindExpected {
    const char* name;
    MbKindFunction fn;
    const char* described;
};

const KindExpected kKinds[] = {
    {"mb_ok", mb_ok, "0x0C 3 3 OK:3"},
    {"mb_ok_cancel", mb_ok_cancel, "0x04 3 3 OK:3 CANCEL:4"},
    {"mb_abort", mb_abort, "0x04 0 0 ABORT:6"},
    {"mb_abort_retry", mb_abort_retry, "0x04 0 0 ABORT:6 RETRY:5"},
    {"mb_abort_continue", mb_abort_continue, "0x04 7 7 ABORT:6 CONTINUE:7"},
    {"mb_nonmodal_abort_continue", mb_nonmodal_abort_continue, "0x00 7 7 ABORT:6 CONTINUE:7"},
    {"mb_auto_box", mb_auto_box, "0x01 0 0"},
    {"mb_modal_clear_close", mb_modal_clear_close, "0x04 0 0"},
    {"mb_clear_close", mb_clear_close, "0x00 0 0"},
};

std::string kind_name(MbKindFunction fn) {
    for (const KindExpected& k : kKinds)
        if (k.fn == fn) return k.name;
    return fn == nullptr ? "-" : "<other kind>";
}

// A kind as in kKinds; a button missing within the count reads "<null>", one set beyond it
// "<extra>".
std::string describe(const MbKind* kind) {
    char head[32];
    std::snprintf(head, sizeof head, "0x%02X %u %u", unsigned{kind->flags},
                  unsigned{kind->default_code}, unsigned{kind->second_code});
    std::string s = head;
    for (std::size_t b = 0; b < MB_KIND_MAX_BUTTONS; ++b) {
        const MbButton* button = kind->buttons[b];
        if (b < kind->button_count)
            s += button == nullptr
                     ? " <null>"
                     : " " + std::string(button->label) + ":" + std::to_string(button->code);
        else if (button != nullptr)
            s += " <extra>";
    }
    return s;
}

// An entry as "ID FLAGS STATE A/B TEXT_A|TEXT_B|COMPONENT KIND_A KIND_B", null texts as "-".
std::string describe(const ErrTableEntry& e) {
    auto text = [](const char* t) {
        return t == nullptr ? std::string("-") : "\"" + std::string(t) + "\"";
    };
    return std::to_string(e.id) + " " + std::to_string(e.flags) + " " + std::to_string(e.state) +
           " " + std::to_string(e.action_a) + "/" + std::to_string(e.action_b) + " " +
           text(e.text_a) + "|" + text(e.text_b) + "|" + text(e.component) + " " +
           kind_name(e.mb_kind_a) + " " + kind_name(e.mb_kind_b);
}

class OwnTableTest : public ::testing::Test {
  protected:
    void SetUp() override { core_test::quiet_console(); }
};

}  // namespace

// Registered under module 1 at load, without creating a task: every entry of the own table
// field by field, the end entry, and the numbers left out.
TEST_F(OwnTableTest, ContentsExact) {
    EXPECT_EQ(core_test::counters().calls[RTX_OP_TASK_CREATE], 0u);
    const ErrTableEntry* table = err::own_error_table();
    constexpr std::size_t kDefined = sizeof kExpected / sizeof kExpected[0];
    static_assert(kDefined + 1 == err::kOwnTableEntries);

    for (std::size_t i = 0; i < kDefined; ++i) {
        const Expected& x = kExpected[i];
        // Every entry is a system error that is archived; registration set its switches.
        const ErrTableEntry expected{x.id,       EF_SYSTEM | EF_ARCHIVE,
                                     ES_ALL,     x.action_a,
                                     x.action_b, x.text,
                                     x.text,     x.component,
                                     x.kind,     nullptr};
        EXPECT_EQ(describe(table[i]), describe(expected)) << "entry " << i;
        EXPECT_EQ(E_FindErrTablebyId(x.id), &table[i]);
    }
    // Registration does not touch the end entry.
    EXPECT_EQ(describe(table[kDefined]), "65535 0 0 0/0 \"END OF TABLE\"|-|- - -");

    // Numbers the table leaves out.
    for (unsigned id = 3; id <= 9; ++id) EXPECT_EQ(E_FindErrTablebyId(id), nullptr) << id;
    for (unsigned id = 22; id <= 29; ++id) EXPECT_EQ(E_FindErrTablebyId(id), nullptr) << id;
    for (unsigned id = 41; id <= 65000; ++id)
        ASSERT_EQ(E_FindErrTablebyId(static_cast<std::uint16_t>(id)), nullptr) << id;
    EXPECT_EQ(E_FindErrTablebyId(65013), nullptr);
    EXPECT_EQ(E_FindErrTablebyId(65534), nullptr);
}

// Each kind function returns the same description on every call; buttons are shared.
TEST_F(OwnTableTest, MessageBoxKindsExact) {
    for (const auto& k : kKinds) {
        const MbKind* kind = k.fn();
        ASSERT_NE(kind, nullptr) << k.name;
        EXPECT_EQ(k.fn(), kind) << k.name;
        EXPECT_EQ(describe(kind), k.described) << k.name;
    }
    // Buttons are shared: the OK of mb_ok is the OK of mb_ok_cancel.
    EXPECT_EQ(mb_ok()->buttons[0], mb_ok_cancel()->buttons[0]);
    // mb_clear_close is all zero.
    const MbKind zero{};
    EXPECT_EQ(std::memcmp(mb_clear_close(), &zero, sizeof zero), 0);
}

// A refused creation of the error task prints both texts once, and the tables stay.
TEST_F(OwnTableTest, InitFunctionRegisteredOnceAndReportsFailedTaskCreation) {
    ErrTableEntry other[] = {{4242, 0, 0, 0, 0, "x", "x", nullptr, nullptr, nullptr}, {}};
    other[1].id = ERR_TABLE_END;
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

// The library entry function registers the own table on attach (reason 1) only.
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
