// fuzz_log_file: any bytes as the system log file, then the error task's set-up of that log and
// the errlog tool's reading of the same bytes (inspect, table, salvage, archive text).
//
// Checks beside "no crash, no overrun":
//   - the set-up succeeds (the folder is writable) and leaves a valid log behind;
//   - bytes that pass the in-memory validation are kept byte for byte and their header links
//     are loaded; bytes that fail it are moved, unchanged, to SYSERR.BAK and a new log is made;
//   - a log that is not only valid but consistent (record numbers in place, each chain ending in
//     0, the forward walk the exact reverse of the backward walk, record states matching the
//     roles) stays valid through archiving, erasing selected records (numbers taken from the
//     input's last bytes), export and erasing all, and is empty at the end.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "err/protocol.h"
#include "fuzz_support.h"
#include "log.h"
#include "log_check.h"
#include "log_format.h"
#include "log_view.h"
#include "rtx/rtx_host.h"
#include "task_state.h"

namespace {

using namespace err;
using namespace err::logfmt;
using Bytes = std::vector<std::uint8_t>;

bool digits(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') return false;
    }
    return true;
}

// Consistent as the module itself leaves a log (see the file comment); only for valid bytes.
bool consistent(const Bytes& b) {
    if (b.size() != LOG_FILE_SIZE) return false;
    for (std::size_t off :
         {kHdrErrorStart, kHdrErrorEnd, kHdrNewRecords, kHdrOverflow, kHdrEmpty}) {
        if (!digits(&b[off], kRecordNumberWidth)) return false;
    }
    auto rec = [&](std::uint16_t n) { return &b[record_offset(n)]; };
    for (std::uint16_t n = 1; n <= LOG_RECORD_COUNT; ++n) {
        const std::uint8_t* r = rec(n);
        if (!digits(r + kRecNr, 3) || !digits(r + kRecPrevious, 3) || !digits(r + kRecNext, 3))
            return false;
        if (record_nr(r) != n) return false;
        if (previous_of(r) > LOG_RECORD_COUNT || next_of(r) > LOG_RECORD_COUNT) return false;
    }
    const std::uint16_t start = header_link(b.data(), kHdrErrorStart);
    const std::uint16_t end = header_link(b.data(), kHdrErrorEnd);
    const std::uint16_t overflow = header_link(b.data(), kHdrOverflow);
    const std::uint16_t empty = header_link(b.data(), kHdrEmpty);
    const std::uint16_t news = header_link(b.data(), kHdrNewRecords);
    if (start > LOG_RECORD_COUNT || end > LOG_RECORD_COUNT || empty > LOG_RECORD_COUNT ||
        news > LOG_RECORD_COUNT)
        return false;
    std::vector<std::uint16_t> back, forward;
    for (std::uint16_t n = start; n != 0 && back.size() <= 25; n = previous_of(rec(n)))
        back.push_back(n);
    for (std::uint16_t n = end; n != 0 && forward.size() <= 25; n = next_of(rec(n)))
        forward.push_back(n);
    std::reverse(forward.begin(), forward.end());
    if (back != forward) return false;
    for (std::uint16_t n : back) {
        if (rec(n)[kRecState] != kStateUsed) return false;
    }
    for (std::uint16_t n = empty; n != 0; n = previous_of(rec(n))) {
        if (rec(n)[kRecState] != kStateFree) return false;
    }
    if (overflow != 0 && rec(overflow)[kRecState] != kStateUsed) return false;
    return true;
}

bool file_valid(const char* relative, Bytes* out = nullptr) {
    Bytes bytes = fuzzsup::read_file(relative);
    const bool ok = err::check_log_image(bytes.data(), bytes.size()).ok();
    if (out) *out = std::move(bytes);
    return ok;
}

void expect_valid(const char* after) {
    Bytes bytes;
    if (!file_valid("LOG/SYSERR.LOG", &bytes)) fuzzsup::fail("log invalid after", after);
    if (!consistent(bytes)) fuzzsup::fail("log inconsistent after", after);
}

void exercise_operations(const std::uint8_t* data, std::size_t size) {
    if (!err::archive_error(0, 4242, "Fuzz\nerror", "FUZZ", "fuzz.cpp", 7))
        fuzzsup::fail("archive failed on a consistent log");
    expect_valid("archive");

    // Erase up to three records named by the input's last bytes (0 to 26: also out of range).
    std::uint8_t block[BLK_HEAD_SIZE + 2 + 6] = {};
    const std::size_t count = std::min<std::size_t>(3, size);
    block[ERASE_COUNT] = std::uint8_t(count);
    for (std::size_t i = 0; i < count; ++i)
        block[ERASE_NUMBERS + 2 * i] = std::uint8_t(data[size - 1 - i] % 27);
    (void)err::erase_selected_errors(0, block, sizeof block);
    expect_valid("erase selected");

    if (!err::export_log(0, "\\LOG\\ARCHIVE.TXT")) fuzzsup::fail("export failed");
    expect_valid("export");
    if (!err::erase_all_errors(0)) fuzzsup::fail("erase all failed");
    expect_valid("erase all");
    errlog::Log after = errlog::inspect_log(fuzzsup::read_file("LOG/SYSERR.LOG"));
    if (!after.errors.empty()) fuzzsup::fail("errors left after erase all");
}

void errlog_paths(const Bytes& bytes) {
    errlog::Log log = errlog::inspect_log(bytes);
    if (log.valid() != err::check_log_image(bytes.data(), bytes.size()).ok())
        fuzzsup::fail("errlog and the module disagree on validity");
    if (log.valid()) {
        (void)errlog::format_table(log, "SYSTEM");
        (void)errlog::archive_text(log.new_records, log.overflow_entry, log.errors);
    }
    std::vector<errlog::Entry> found = errlog::salvage(bytes);
    (void)errlog::format_rows(found);
    for (const auto& e : found) (void)errlog::escape(e.text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzsup::system_root();  // its boot file names both logs

    const Bytes input(data, data + size);
    errlog_paths(input);

    err::reset_task_state();
    fuzzsup::clean_root({"TARNBOOT.INI"});
    fuzzsup::write_file("LOG/SYSERR.LOG", data, size);
    const bool valid = err::check_log_image(data, size).ok();

    if (!err::init_log_file(0)) fuzzsup::fail("set-up failed in a writable folder");
    Bytes now;
    if (!file_valid("LOG/SYSERR.LOG", &now)) fuzzsup::fail("set-up left an invalid log");
    bool backup_exists = false;
    const Bytes backup = fuzzsup::read_file("LOG/SYSERR.BAK", &backup_exists);
    const err::LogHeader& h = err::log_slot(0).header;
    if (valid) {
        if (now != input) fuzzsup::fail("a valid log was changed by the set-up");
        if (backup_exists) fuzzsup::fail("a valid log was backed up");
        if (h.error_start_record != header_link(data, kHdrErrorStart) ||
            h.error_end_record != header_link(data, kHdrErrorEnd) ||
            h.new_records != header_link(data, kHdrNewRecords) ||
            h.overflow_record != header_link(data, kHdrOverflow) ||
            h.empty_record != header_link(data, kHdrEmpty))
            fuzzsup::fail("header links not loaded");
        if (consistent(input)) exercise_operations(data, size);
    } else {
        if (!backup_exists || backup != input) fuzzsup::fail("a corrupt log was not backed up");
        if (now != errlog::new_log_image()) fuzzsup::fail("the new log is not a fresh one");
        if (h.empty_record != 1 || h.error_start_record != 0 || h.overflow_record != 0)
            fuzzsup::fail("header of the new log");
    }
    rtx_host_console_clear();
    return 0;
}
