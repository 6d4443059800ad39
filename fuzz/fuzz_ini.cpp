// fuzz_ini: any bytes as TARNBOOT.INI, then the set-up of the system log and, when that
// succeeds, of the user log, as the error task does at start.
//
// Configured paths may name anything: files below the root are created, validated and backed
// up there; paths that would leave the root are refused by the guard (fuzz_support.h), as a
// file that cannot be opened. The root is emptied after each input.
//
// Checks beside "no crash, no overrun": a log that the set-up reports usable has a path that
// fits its buffer and holds a valid log file at that path; a log reported unusable is switched
// off (its path is empty).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "log.h"
#include "log_check.h"
#include "rtx/rtx.h"
#include "rtx/rtx_host.h"
#include "task_state.h"

namespace {

void check_log(int log_id, bool usable) {
    const err::LogSlot& slot = err::log_slot(log_id);
    if (std::memchr(slot.path, 0, err::kPathSize) == nullptr)
        fuzzsup::fail("path not terminated in its buffer");
    if (!usable) {
        if (slot.path[0] != 0) fuzzsup::fail("an unusable log keeps its path");
        return;
    }
    if (slot.path[0] == 0) fuzzsup::fail("a usable log has no path");
    if (slot.stream != nullptr) fuzzsup::fail("the set-up left a stream open");
    rtx_file* f = rtx_file_open(slot.path, "rb");
    if (f == nullptr) fuzzsup::fail("a usable log cannot be opened:", slot.path);
    std::vector<std::uint8_t> bytes(20000);
    const std::size_t n = rtx_file_read(f, bytes.data(), bytes.size());
    rtx_file_close(f);
    if (!err::check_log_image(bytes.data(), n).ok())
        fuzzsup::fail("a usable log is not valid:", slot.path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzsup::clean_root({});
    fuzzsup::write_file("TARNBOOT.INI", data, size);
    err::reset_task_state();

    const bool system_ok = err::init_log_file(0);
    check_log(0, system_ok);
    if (system_ok) {
        const bool user_ok = err::init_log_file(1);
        check_log(1, user_ok);
    }
    rtx_host_console_clear();
    return 0;
}
