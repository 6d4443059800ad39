// The library's entry: registration at load, and init_function, which the executive calls at
// system start to create the error task.
#include <cstddef>
#include <cstdint>

#include "err/err_table.h"
#include "err/protocol.h"
#include "err/report.h"
#include "error_task.h"
#include "library_entry.h"
#include "own_table.h"
#include "registry.h"
#include "rtx/rtx.h"

// The descriptor the executive reads: exact offsets with 32-bit pointers; on a 64-bit host
// the same order with a native start address.
#if defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 4
static_assert(sizeof(rtx_task_descriptor) == 16);
static_assert(offsetof(rtx_task_descriptor, data_seg) == 6);
static_assert(offsetof(rtx_task_descriptor, stack_base) == 8);
static_assert(offsetof(rtx_task_descriptor, stack_size) == 12);
static_assert(offsetof(rtx_task_descriptor, priority) == 14);
#else
static_assert(sizeof(rtx_task_descriptor) == 20);
static_assert(offsetof(rtx_task_descriptor, data_seg) == 10);
static_assert(offsetof(rtx_task_descriptor, stack_base) == 12);
static_assert(offsetof(rtx_task_descriptor, stack_size) == 16);
static_assert(offsetof(rtx_task_descriptor, priority) == 18);
#endif
static_assert(offsetof(rtx_task_descriptor, type) == 0);
static_assert(offsetof(rtx_task_descriptor, unused) == 1);
static_assert(offsetof(rtx_task_descriptor, start) == 2);

namespace err {

namespace {

constexpr std::uint8_t kTaskType = 130;
constexpr std::uint16_t kTaskStackSize = 10000;
constexpr std::uint16_t kTaskPriority = 1;
constexpr std::uint16_t kCreateParam = 1000;

}  // namespace

int register_with_executive() {
    return register_init_function(&init_function, "ERR.DLL init function");
}

bool create_error_task() {
    // Value-initialised: the byte the executive does not read is 0 rather than stack garbage.
    rtx_task_descriptor descriptor{};
    descriptor.type = kTaskType;
    descriptor.start = &error_task;
    descriptor.data_seg = 0;
    descriptor.stack_base = 0;
    descriptor.stack_size = kTaskStackSize;
    descriptor.priority = kTaskPriority;

    rtx_status status{};
    if (ini_create_task(&descriptor, CATALOG_ERROR_TASK, kCreateParam, &status) != 0) return true;
    boot_printf("Error creating Error Task\n");
    return false;
}

}  // namespace err

extern "C" int DllMain(void* instance, std::uint32_t reason, void* reserved) {
    (void)instance;
    (void)reserved;
    if (reason == err::kReasonAttach) {
        (void)err::register_with_executive();
        E_RegisterErrorTable(static_cast<std::uint16_t>(err::kOwnModule), err::own_error_table());
    }
    return 1;
}

extern "C" void init_function(void) {
    err::registry_prepare();
    if (!err::create_error_task()) rtx_boot_printf(1, "ERROR: FAILED TO CREATE ERROR TASK");
}

namespace {

// The loader's attach call: runs once when a process loads the library.
__attribute__((constructor)) void attach_library() {
    DllMain(nullptr, err::kReasonAttach, nullptr);
}

}  // namespace
