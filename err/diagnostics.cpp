// Developer diagnostics (the VX_ERROR macro), switched by the release setting
// "LogVXErrorRelease" in section "Eventlog" of "TARNBOOT.INI":
//   0 or less, or missing: nothing is formatted or reported;
//   1: the text is reported as error 2 (a fixed text when there is none);
//   2 or more: the text is formatted and released, not reported.
#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "err/report.h"
#include "rtx/rtx.h"

namespace {

constexpr std::size_t kTextSize = 1024;
constexpr const char* kNoInfoText = "VX_ERROR-Aufruf ohne Infotext - Review abgelehnt!";

// -1 at load; set to 0 before the file is read, so the file is read once per load even when
// two tasks make their first calls together. Atomic so that the marker is claimed by exactly
// one of them.
std::atomic<int> g_settings_read{-1};
std::atomic<int> g_release{-1};

// Decimal conversion as atoi (leading blanks, optional sign, digits; 0 without digits), but
// a value beyond the range of int is held at the nearest end instead of being undefined.
int to_int(const char* text) {
    long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

void read_release_setting() {
    std::uint16_t handle = 0;
    if (ini_file_read(&handle, "TARNBOOT.INI") != 0) return;
    char* value = nullptr;
    if (ini_file_get(handle, "Eventlog", "LogVXErrorRelease", &value) == 0 && value != nullptr)
        g_release.store(to_int(value));
    ini_file_free(handle);
}

}  // namespace

extern "C" char* _VX_formatErrorString(const char* format, ...) {
    if (g_settings_read.exchange(0) == -1) read_release_setting();

    if (g_release.load() <= 0 || format == nullptr || format[0] == '\0') return nullptr;
    char* text = static_cast<char*>(std::malloc(kTextSize));
    if (text == nullptr) return nullptr;
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, kTextSize, format, args);
    va_end(args);
    text[kTextSize - 1] = '\0';
    return text;
}

extern "C" int _VX_TestShowErrorDialogLogInfo(const char* file, int32_t line, char* text) {
    if (g_release.load() == 1)
        EReportError(file, line, ERR_QUALITY, text != nullptr ? text : kNoInfoText);
    std::free(text);
    return g_settings_read.load();
}
