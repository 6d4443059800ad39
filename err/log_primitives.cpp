// Record access primitives of the error logs and the date and time stamps.
//
// Every read and every write is preceded by its own seek from the start of the file, so that
// reads and writes on the one read-write stream never follow each other without a positioning
// call between them. Failures print on the boot console and return false.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "log.h"
#include "log_clock.h"
#include "log_format.h"
#include "log_texts.h"
#include "rtx/rtx.h"
#include "task_state.h"

namespace err {

using namespace logfmt;

bool open_log_stream(int log_id) {
    LogSlot& slot = log_slot(log_id);
    if (slot.path[0] == 0) return false;  // the log is switched off
    // A stream left open by an earlier operation would leak here; every operation closes what
    // it opened, but closing a leftover first keeps one stream per log whatever happened.
    if (slot.stream) {
        rtx_file_close(slot.stream);
        slot.stream = nullptr;
    }
    slot.stream = rtx_file_open(slot.path, "r+b");
    if (!slot.stream) {
        boot_printf(kTextOpenFailed, slot.path);
        return false;
    }
    return true;
}

bool read_log_record(int log_id, std::uint8_t* buffer, std::uint16_t record_nr) {
    if (!is_record_number(record_nr)) return false;
    LogSlot& slot = log_slot(log_id);
    // Reading needs the stream that open_log_stream opened; without one there is nothing to
    // read from (no text: the open has printed its own).
    if (!slot.stream || !buffer) return false;
    if (rtx_file_seek(slot.stream, static_cast<long>(record_offset(record_nr)), SEEK_SET) != 0) {
        boot_printf(kTextPositionFailed, static_cast<int>(record_nr), slot.path);
        return false;
    }
    if (rtx_file_read(slot.stream, buffer, LOG_RECORD_SIZE) != LOG_RECORD_SIZE) {
        boot_printf(kTextReadFailed, slot.path);
        return false;
    }
    return true;
}

bool write_log_record(int log_id, const std::uint8_t* buffer) {
    if (!buffer) return false;
    // A record buffer carries its own address: it is written where its record_nr says.
    const std::uint16_t n = record_nr(buffer);
    if (!is_record_number(n)) return false;
    LogSlot& slot = log_slot(log_id);
    if (!slot.stream) return false;
    if (rtx_file_seek(slot.stream, static_cast<long>(record_offset(n)), SEEK_SET) != 0) {
        boot_printf(kTextPositionFailed, static_cast<int>(n), slot.path);
        return false;
    }
    if (rtx_file_write(slot.stream, buffer, LOG_RECORD_SIZE) != LOG_RECORD_SIZE) {
        boot_printf(kTextWriteFailed, slot.path);
        return false;
    }
    return true;
}

namespace {

// What the last load_log_records read. Only the error task walks a log, one operation at a time.
struct LoadedRecords {
    enum class State { no_stream, not_positioned, read } state = State::no_stream;
    std::size_t got = 0;  // bytes read from record 1 on
    std::uint8_t bytes[LOG_RECORD_COUNT * LOG_RECORD_SIZE];
};
LoadedRecords g_loaded;

}  // namespace

void load_log_records(int log_id) {
    LoadedRecords& r = g_loaded;
    r.got = 0;
    r.state = LoadedRecords::State::no_stream;
    rtx_file* stream = log_slot(log_id).stream;
    if (!stream) return;  // nothing to read from (the open has printed its own text)
    r.state = LoadedRecords::State::not_positioned;
    if (rtx_file_seek(stream, static_cast<long>(record_offset(1)), SEEK_SET) != 0) return;
    r.state = LoadedRecords::State::read;
    r.got = rtx_file_read(stream, r.bytes, sizeof r.bytes);
}

const std::uint8_t* loaded_log_record(int log_id, std::uint16_t record_nr) {
    const LoadedRecords& r = g_loaded;
    if (!is_record_number(record_nr) || r.state == LoadedRecords::State::no_stream) return nullptr;
    const char* path = log_slot(log_id).path;
    if (r.state == LoadedRecords::State::not_positioned) {
        boot_printf(kTextPositionFailed, static_cast<int>(record_nr), path);
        return nullptr;
    }
    const std::size_t at = record_offset(record_nr) - record_offset(1);
    if (r.got < at + LOG_RECORD_SIZE) {
        boot_printf(kTextReadFailed, path);
        return nullptr;
    }
    return r.bytes + at;
}

// ---- Date and time stamps ----

namespace {

std::time_t (*g_clock)() = nullptr;

char g_date[12];
char g_time[12];

#if defined(__unix__) || defined(__APPLE__)
// Every record takes a date and a time stamp, and reports come many to the second: the last
// conversion is kept, together with the time zone it was made in, and used again for the same
// second in the same zone; so are the record fields made from it.
struct LastSecond {
    bool valid = false;
    std::time_t at = 0;
    long zone = 0;
    const char* zone_name = nullptr;
    std::tm local{};
    bool fields_made = false;  // date and time below hold the fields of local
    std::uint8_t date[kDateWidth] = {};
    std::uint8_t time[kTimeWidth] = {};
};
LastSecond g_last;
#endif

// Local time now. False when the clock or the conversion fails.
bool local_now(std::tm& out) {
    std::time_t now = g_clock ? g_clock() : std::time(nullptr);
    if (now == static_cast<std::time_t>(-1)) return false;
#if defined(__unix__) || defined(__APPLE__)
    LastSecond& last = g_last;
    if (last.valid && last.at == now && last.zone == timezone && last.zone_name == tzname[0]) {
        out = last.local;
        return true;
    }
    last.fields_made = false;
    if (!localtime_r(&now, &out)) return false;
    last.valid = true;
    last.at = now;
    last.zone = timezone;
    last.zone_name = tzname[0];
    last.local = out;
    return true;
#else
    const std::tm* t = std::localtime(&now);
    if (!t) return false;
    out = *t;
    return true;
#endif
}

}  // namespace

void set_log_clock_for_tests(std::time_t (*now)()) {
    g_clock = now;
}

// When the clock cannot be read the stamps keep the placeholder of a new record, so a
// record never carries a made-up moment.
namespace {

void date_of(const std::tm* t) {
    if (t)
        format_date(*t, g_date, sizeof g_date);
    else
        std::snprintf(g_date, sizeof g_date, "%s", kNewDate);
}

void time_of(const std::tm* t) {
    if (t)
        format_time(*t, g_time, sizeof g_time);
    else
        std::snprintf(g_time, sizeof g_time, "%s", kNewTime);
}

}  // namespace

const char* log_date_string() {
    std::tm t{};
    date_of(local_now(t) ? &t : nullptr);
    return g_date;
}

const char* log_time_string() {
    std::tm t{};
    time_of(local_now(t) ? &t : nullptr);
    return g_time;
}

void put_stamp_fields(std::uint8_t* record) {
    std::tm t{};
    const std::tm* now = local_now(t) ? &t : nullptr;
#if defined(__unix__) || defined(__APPLE__)
    if (now && g_last.fields_made) {
        std::memcpy(record + kRecDate, g_last.date, kDateWidth);
        std::memcpy(record + kRecTime, g_last.time, kTimeWidth);
        return;
    }
#endif
    date_of(now);
    time_of(now);
    encode_text(record + kRecDate, kDateWidth, g_date);
    encode_text(record + kRecTime, kTimeWidth, g_time);
#if defined(__unix__) || defined(__APPLE__)
    if (now) {
        std::memcpy(g_last.date, record + kRecDate, kDateWidth);
        std::memcpy(g_last.time, record + kRecTime, kTimeWidth);
        g_last.fields_made = true;
    }
#endif
}

}  // namespace err
