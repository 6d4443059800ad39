// The module's own error table: error 2 of the contract checks and developer diagnostics,
// failed executive operations (10 to 21, 30 to 40), the success code, the outdated macro and
// the test errors that exercise the placeholders and each message-box kind.
//
// Every entry is a system error archived in the system log (EF_SYSTEM | EF_ARCHIVE); the
// state words are written 0 here and set by registration. The variant B text is the variant A
// text; no entry has a message-box kind in variant B.
#include "own_table.h"

#include <cstdint>

#include "err/mb_kind.h"

namespace err {

namespace {

constexpr std::uint16_t kSysArchive = EF_SYSTEM | EF_ARCHIVE;

#define ERR_OWN_ENTRY(nr, act_a, act_b, text, component, kind) \
    { nr, kSysArchive, 0, act_a, act_b, text, text, component, kind, nullptr }

// Written in place by the registry and the error task, so not const.
ErrTableEntry g_own_table[kOwnTableEntries] = {
    ERR_OWN_ENTRY(0, 0, 0, "operation ok", nullptr, nullptr),
    ERR_OWN_ENTRY(1, 0, 0, "old error macro EX_... used instead of E_...", nullptr, nullptr),
    ERR_OWN_ENTRY(2, 0, 0, "%s", "QUALITY", nullptr),
    ERR_OWN_ENTRY(10, 0, 0, "rtx_global_alloc failed with error status %s", "RTX", nullptr),
    ERR_OWN_ENTRY(11, 0, 0, "rtx_global_free failed with error status %s", "RTX", nullptr),
    ERR_OWN_ENTRY(12, 0, 0, "rtx_creatembx failed with error status %s", "RTX", nullptr),
    ERR_OWN_ENTRY(13, 0, 0, "rtx_deletembx failed with error status %s", "RTX", nullptr),
    ERR_OWN_ENTRY(14, 0, 0, "rtx_sendmessage failed with error status %s", "RTX", nullptr),
    ERR_OWN_ENTRY(15, 0, 0, "rtx_getmessage failed with error status %s", "RTX", nullptr),
    ERR_OWN_ENTRY(16, 0, 0, "rtx_catalog failed with error status %s", "RTX", nullptr),
    ERR_OWN_ENTRY(17, 0, 0, "rtx_searchcatalog failed with error status %s", "RTX", nullptr),
    ERR_OWN_ENTRY(18, 0, 0, "rtx_createsema failed with error status %s", "RTX", nullptr),
    ERR_OWN_ENTRY(19, 0, 0, "rtx_deletesema failed with error status %s", "RTX", nullptr),
    ERR_OWN_ENTRY(20, 0, 0, "rtx_getsema failed with error status %s", "RTX", nullptr),
    ERR_OWN_ENTRY(21, 0, 0, "rtx_sendsema failed with error status %s", "RTX", nullptr),
    ERR_OWN_ENTRY(30, 0, 0, "RTX: rtx_file_open of file %s failed", "RTX", nullptr),
    ERR_OWN_ENTRY(31, 0, 0, "RTX: rtx_file_read  failed with error code %s", "RTX", nullptr),
    ERR_OWN_ENTRY(32, 0, 0, "RTX: rtx_file_write failed with error code %s", "RTX", nullptr),
    ERR_OWN_ENTRY(33, 0, 0, "RTX: rtx_file_seek  failed with error code %s", "RTX", nullptr),
    ERR_OWN_ENTRY(34, 0, 0, "RTX: rtx_file_close failed with error code %s", "RTX", nullptr),
    ERR_OWN_ENTRY(35, 0, 0, "RTX: rtx_file_copy  failed with error code %s", "RTX", nullptr),
    ERR_OWN_ENTRY(36, 0, 0, "RTX: rtx_file_delete failed with error code %s", "RTX", nullptr),
    ERR_OWN_ENTRY(37, 0, 0, "RTX: rtx_file_rename failed with error code %s", "RTX", nullptr),
    ERR_OWN_ENTRY(38, 0, 0, "RTX: rtx_file_move  failed with error code %s", "RTX", nullptr),
    ERR_OWN_ENTRY(39, 0, 0, "RTX: rtx_file_avail failed with error code %s", "RTX", nullptr),
    ERR_OWN_ENTRY(40, 0, 0, "RTX: rtx_file_info  failed with error code %s", "RTX", nullptr),
    ERR_OWN_ENTRY(65001, 0, 0, "Test Error: E_TEST_NO_PARAMS", "TEST", nullptr),
    ERR_OWN_ENTRY(65002, 0, 0, "Test Error: E_TEST_ONE_PARAM, param1:\"%s\"", "TEST", nullptr),
    ERR_OWN_ENTRY(65003, 0, 0, "Test Error: E_TEST_TWO_PARAMS, param1:\"%s\", param2:\"%s\"",
                  "TEST", nullptr),
    ERR_OWN_ENTRY(65004, 0, 0,
                  "Test Error: E_TEST_THREE_PARAMS, param1:\"%s\", param2:\"%s\", param3:\"%s\"",
                  "TEST", nullptr),
    ERR_OWN_ENTRY(65005, 12, 0, "Test Error: E_TEST_MB_OK               ", "TEST", mb_ok),
    ERR_OWN_ENTRY(65006, 12, 0, "Test Error: E_TEST_MB_OK_CANCEL        ", "TEST", mb_ok_cancel),
    ERR_OWN_ENTRY(65007, 12, 0, "Test Error: E_TEST_MB_ABORT            ", "TEST", mb_abort),
    ERR_OWN_ENTRY(65008, 12, 0, "Test Error: E_TEST_MB_ABORT_RETRY      ", "TEST", mb_abort_retry),
    ERR_OWN_ENTRY(65009, 12, 0, "Test Error: E_TEST_MB_ABORT_CONTINUE   ", "TEST",
                  mb_abort_continue),
    ERR_OWN_ENTRY(65010, 12, 0, "Test Error: E_TEST_MB_AUTO_BOX         ", "TEST", mb_auto_box),
    ERR_OWN_ENTRY(65011, 12, 12, "Test Error: E_TEST_MB_MODAL_CLEAR_CLOSE", "TEST",
                  mb_modal_clear_close),
    ERR_OWN_ENTRY(65012, 12, 0, "Test Error: E_TEST_MB_CLEAR_CLOSE      ", "TEST", mb_clear_close),
    {ERR_TABLE_END, 0, 0, 0, 0, "END OF TABLE", nullptr, nullptr, nullptr, nullptr},
};

#undef ERR_OWN_ENTRY

}  // namespace

ErrTableEntry* own_error_table() {
    return g_own_table;
}

}  // namespace err
