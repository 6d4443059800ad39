// Contract checks: what a failed precondition, assertion or postcondition calls. Each reports
// error 2 with the caller's file and line and returns; nothing is stopped.
#include <cstdarg>
#include <cstdio>

#include "err/report.h"

namespace {

constexpr std::size_t kContractBufferSize = 256;

}  // namespace

extern "C" void Q_report_error(const char* file, int32_t line, const char* format, ...) {
    // The executive's VSPRINTF takes no bound; the text is formatted with a bound of the
    // buffer instead, so a longer text is cut to 255 characters (the report carries 120).
    // A null format reports an empty text.
    char buffer[kContractBufferSize];
    buffer[0] = '\0';
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(buffer, sizeof buffer, format, args);
        va_end(args);
    }
    EReportError(file, line, ERR_QUALITY, buffer);
}

extern "C" void _Q_require(const char* file, int32_t line) {
    Q_report_error(file, line, "precondition failed");
}

extern "C" void _Q_assert(const char* file, int32_t line) {
    Q_report_error(file, line, "assertion failed");
}

extern "C" void _Q_ensure(const char* file, int32_t line) {
    Q_report_error(file, line, "postcondition failed");
}
