// Generates a fleet of instrument folders, each with the two logs that an instrument keeps, as
// a service engineer pulls them: varied numbers of errors (some logs empty, some run full with
// an overflow record), realistic texts, components and sources, each instrument on its own
// clock. A few logs are corrupt, a few folders hold a .BAK beside their logs and a file that is
// no log. The logs are built with the module's own format code and archived as the error task
// archives (free chain, error chain, overflow record); every log meant to be valid is checked
// with the module's validity test before it is written.
//
//   err_bench_fleet OUT_DIR [INSTRUMENTS] [SEED]
//
// OUT_DIR/inst00001/SYSERR.LOG and USERERR.LOG, ... (INSTRUMENTS folders, default 5000; SEED
// default 1). The same arguments give the same bytes. Prints one line: folders, logs, entries,
// bytes, and how many logs are empty, overflowed, corrupt, and how many .BAK and other files.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "log_check.h"
#include "log_format.h"
#include "log_view.h"

namespace {

using namespace err::logfmt;
using err::LOG_FILE_SIZE;
using err::LOG_RECORD_COUNT;

struct Source {
    std::uint16_t code;
    const char* component;
    const char* file;
    const char* format;  // %d: a number that varies
    bool system;
};

const Source kSources[] = {
    {100, "DOOR", "door.c", "Door D%d open", false},
    {101, "LAMP", "lamp.c", "Lamp %d failed, code %d", false},
    {102, "HEAT", "heater_ctrl.c", "Heater timeout after %d s", true},
    {110, "VALVE", "valves/valve_driver.c", "Valve V%d stuck at %d percent", false},
    {120, "PUMP", "pump.c", "Pump pressure %d mbar above limit", false},
    {130, "SAMPLER", "sampler/arm.c", "Sampler arm blocked at position %d", false},
    {131, "SAMPLER", "sampler/needle.c", "Needle crash detected, depth %d mm", false},
    {140, "DETECT", "detector.c", "Detector signal lost on channel %d", false},
    {150, "TEMP", "temp.c", "Column temperature %d C out of range", false},
    {160, "COMM", "comm/link.c", "No answer from module %d", true},
    {161, "COMM", "comm/link.c", "Checksum error in frame %d", true},
    {170, "POWER", "power.c", "Supply voltage dropped to %d V", true},
    {200, "", "main.c", "Service interval exceeded by %d days", false},
    {210, "FLUIDICS", "fluidics/degasser.c", "Degasser vacuum %d mbar too high", false},
    {300, "CAL", "calibration.c", "Calibration %d failed, repeat it", false},
    {400, "DOOR", "-", "Door \"front\" open for %d min", false},
};
constexpr std::size_t kSourceCount = sizeof kSources / sizeof kSources[0];

// One log being archived into, as the error task does it.
class LogImage {
  public:
    LogImage() : bytes_(errlog::new_log_image()) {}

    void archive(const Source& s, const char* text, std::time_t when, int line) {
        std::uint16_t r = link(kHdrEmpty);
        if (r != 0) {
            set(kHdrEmpty, previous(r));
        } else if (link(kHdrOverflow) == 0) {  // full for the first time: the oldest overflows
            const std::uint16_t oldest = take_oldest();
            std::uint8_t* o = record(oldest);
            encode_text(o + kRecText, kTextWidth, kOverflowText);
            encode_text(o + kRecComponent, kComponentWidth, "");
            encode_number(o + kRecCode, kCodeWidth, 0);
            encode_number(o + kRecPrevious, kRecordNumberWidth, 0);
            encode_number(o + kRecNext, kRecordNumberWidth, 0);
            stamp(o, when);
            set(kHdrOverflow, oldest);
            r = take_oldest();
        } else {
            r = take_oldest();
        }
        std::uint8_t* p = record(r);
        p[kRecState] = kStateUsed;
        encode_number(p + kRecCode, kCodeWidth, s.code);
        encode_text(p + kRecText, kTextWidth, text);
        encode_text(p + kRecComponent, kComponentWidth, s.component);
        stamp(p, when);
        encode_text(p + kRecFile, kFileWidth, s.file);
        char digits[12];
        decimal_text(line, digits);
        encode_text(p + kRecLine, kLineWidth, std::strcmp(s.file, "-") == 0 ? "-" : digits);
        const std::uint16_t newest = link(kHdrErrorStart);
        encode_number(p + kRecPrevious, kRecordNumberWidth, newest);
        encode_number(p + kRecNext, kRecordNumberWidth, 0);
        if (newest != 0) encode_number(record(newest) + kRecNext, kRecordNumberWidth, r);
        set(kHdrErrorStart, r);
        if (link(kHdrErrorEnd) == 0) set(kHdrErrorEnd, r);
        const int most = link(kHdrOverflow) != 0 ? 24 : 25;
        set(kHdrNewRecords, static_cast<std::uint16_t>(std::min(link(kHdrNewRecords) + 1, most)));
    }

    std::vector<std::uint8_t>& bytes() { return bytes_; }

  private:
    std::uint8_t* record(std::uint16_t n) { return bytes_.data() + record_offset(n); }
    std::uint16_t link(std::size_t field) { return header_link(bytes_.data(), field); }
    void set(std::size_t field, std::uint16_t v) {
        encode_number(bytes_.data() + field, kRecordNumberWidth, v);
    }
    std::uint16_t previous(std::uint16_t n) { return previous_of(record(n)); }
    // Takes the oldest error off the error chain; its number.
    std::uint16_t take_oldest() {
        const std::uint16_t oldest = link(kHdrErrorEnd);
        const std::uint16_t next = next_of(record(oldest));
        set(kHdrErrorEnd, next);
        if (next != 0)
            encode_number(record(next) + kRecPrevious, kRecordNumberWidth, 0);
        else
            set(kHdrErrorStart, 0);
        return oldest;
    }
    static void stamp(std::uint8_t* r, std::time_t when) {
        std::tm t{};
        gmtime_r(&when, &t);
        char date[16], time[16];
        format_date(t, date, sizeof date);
        format_time(t, time, sizeof time);
        std::memcpy(r + kRecDate, date, kDateWidth);
        std::memcpy(r + kRecTime, time, kTimeWidth);
    }
    std::vector<std::uint8_t> bytes_;
};

bool write_bytes(const std::string& path, const std::uint8_t* data, std::size_t n) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, n, f) == n;
    return std::fclose(f) == 0 && ok;
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "err_bench_fleet: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: err_bench_fleet OUT_DIR [INSTRUMENTS] [SEED]\n");
        return 2;
    }
    const std::string out = argv[1];
    const long instruments = argc > 2 ? std::atol(argv[2]) : 5000;
    const unsigned seed = argc > 3 ? static_cast<unsigned>(std::atol(argv[3])) : 1u;
    if (instruments < 1) {
        std::fprintf(stderr, "err_bench_fleet: INSTRUMENTS must be at least 1\n");
        return 2;
    }
    if (::mkdir(out.c_str(), 0777) != 0 && errno != EEXIST) fail("cannot create " + out);
    std::mt19937 rng(seed);
    auto below = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    long logs = 0, entries = 0, empty = 0, overflowed = 0, corrupt = 0, backups = 0, others = 0;
    unsigned long long bytes = 0;
    const std::time_t fleet_start = 1767225600;  // 2026-01-01 00:00:00 UTC
    for (long i = 1; i <= instruments; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/inst%05ld", i);
        const std::string folder = out + name;
        if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) fail("cannot create " + folder);
        // Each instrument's clock: its first error somewhere in the year, whole minutes apart
        // at times, so that stamps of different logs meet.
        std::time_t clock = fleet_start + static_cast<std::time_t>(below(300)) * 86400 +
                            static_cast<std::time_t>(below(1440)) * 60;
        for (const char* log_name : {"SYSERR.LOG", "USERERR.LOG"}) {
            const bool system = log_name[0] == 'S';
            // Errors archived: none (1 log in 12), a few, many, or more than fit (1 in 4).
            const unsigned kind = below(12);
            const unsigned count = kind == 0   ? 0
                                   : kind <= 4 ? 1 + below(14)
                                   : kind <= 8 ? 10 + below(16)
                                               : 26 + below(40);
            LogImage log;
            for (unsigned k = 0; k < count; ++k) {
                const Source* s = &kSources[below(kSourceCount)];
                for (int tries = 0; s->system != system && tries < 8; ++tries)
                    s = &kSources[below(kSourceCount)];
                clock += below(4) == 0 ? 0 : 1 + below(below(3) == 0 ? 86400 : 600);
                char text[96];
                std::snprintf(text, sizeof text, s->format, 1 + below(40), below(100));
                log.archive(*s, text, clock, 20 + static_cast<int>(below(900)));
            }
            std::vector<std::uint8_t>& image = log.bytes();
            const err::LogCheckResult check = err::check_log_image(image.data(), image.size());
            if (!check.ok()) {
                std::fprintf(stderr, "err_bench_fleet: generated an invalid log (%s)\n",
                             err::log_fault_name(check.fault));
                return 2;
            }
            const std::uint16_t shown = std::min<unsigned>(count, LOG_RECORD_COUNT);
            std::size_t size = image.size();
            // A few logs are corrupt: cut short, or with a loop in the error chain.
            if (below(400) == 0) {
                ++corrupt;
                if (below(2) == 0 || header_link(image.data(), kHdrErrorStart) == 0) {
                    size = 15000;
                } else {
                    const std::uint16_t start = header_link(image.data(), kHdrErrorStart);
                    encode_number(image.data() + record_offset(start) + kRecPrevious,
                                  kRecordNumberWidth, start);
                }
                // Beside it, the .BAK of an earlier corrupt one, as the task leaves it.
                if (below(2) == 0) {
                    ++backups;
                    std::string bak =
                        folder + "/" + std::string(log_name, std::strchr(log_name, '.')) + ".BAK";
                    if (!write_bytes(bak, image.data(), 14000)) fail("cannot write " + bak);
                }
            } else {
                entries += shown;
                if (count == 0) ++empty;
                if (count > LOG_RECORD_COUNT) ++overflowed;
            }
            const std::string path = folder + "/" + log_name;
            if (!write_bytes(path, image.data(), size)) fail("cannot write " + path);
            bytes += size;
            ++logs;
        }
        if (below(500) == 0) {  // a file that is no log, with a log's name
            ++others;
            const std::string path = folder + "/CMakeOutput.log";
            const char text[] = "The system is: Linux\n";
            if (!write_bytes(path, reinterpret_cast<const std::uint8_t*>(text), sizeof text - 1))
                fail("cannot write " + path);
        }
    }
    (void)LOG_FILE_SIZE;
    std::printf(
        "%ld folders, %ld logs, %ld entries in the valid logs, %llu bytes; %ld empty, "
        "%ld overflowed, %ld corrupt, %ld .BAK, %ld other files\n",
        instruments, logs, entries, bytes, empty, overflowed, corrupt, backups, others);
    return 0;
}
