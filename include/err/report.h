/* Reporting an error from any task.
 *
 * None of these calls waits for the error task, prints anything or fails loudly: a report
 * that cannot be sent is dropped. */
#ifndef ERR_REPORT_H
#define ERR_REPORT_H

#include <stdint.h>

#include "err/err_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Error number under which contract checks and developer diagnostics report. */
#define ERR_QUALITY 2

/* Sends error error_nr, with the caller's source position and an optional information text,
 * to the error task. file and info may be null; file is cut to its file-name part, to 80
 * characters, and info to 120. "%s" places of the error's text take the "$"-separated parts of
 * info. Returns the status of the send (0 when queued); non-zero when the report was dropped.
 *
 * The caller does not wait for the error task. Its one wait is the executive's: on the
 * instrument the error task and the tasks that free segments outrank the reporting tasks, so a
 * reporter finds the segment pool exhausted only while they wait themselves. The host
 * executive (librtx_host) ranks no threads and stands in for those priorities: an allocation
 * at an exhausted pool gives way for up to 1 ms (until half the pool is free again) before the
 * report is dropped, so in an error storm a call can take about a millisecond. bench/run
 * prints the caller's 99th and 99.9th percentile time in a storm (docs/architecture.md). */
ERR_API int EReportError(const char* file, int32_t line, uint16_t error_nr, const char* info);

/* Contract checks: report error 2 with a formatted text (at most 255 characters are formatted,
 * 120 travel) or with "precondition failed", "assertion failed", "postcondition failed". */
ERR_API void Q_report_error(const char* file, int32_t line, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
ERR_API void _Q_require(const char* file, int32_t line);
ERR_API void _Q_assert(const char* file, int32_t line);
ERR_API void _Q_ensure(const char* file, int32_t line);

#define Q_REQUIRE(cond) ((cond) ? (void)0 : _Q_require(__FILE__, __LINE__))
#define Q_ASSERT(cond) ((cond) ? (void)0 : _Q_assert(__FILE__, __LINE__))
#define Q_ENSURE(cond) ((cond) ? (void)0 : _Q_ensure(__FILE__, __LINE__))

/* The shared format buffer (200 bytes), guarded by a semaphore:
 *   EFormatLock(); EReportError(__FILE__, __LINE__, nr, EFormat("%d", x)); EFormatUnlock();
 * EFormat yields an empty text before the first successful lock and after any failed
 * semaphore operation. The text must not be used after EFormatUnlock. */
ERR_API void EFormatLock(void);
ERR_API char* EFormat(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
ERR_API void EFormatUnlock(void);

/* Developer diagnostics, switched by "LogVXErrorRelease" in section "Eventlog" of
 * "TARNBOOT.INI": 1 reports, 2 or more formats and discards, 0 or missing does nothing.
 * _VX_formatErrorString returns a heap text (at most 1023 characters) or null; the text is
 * handed to _VX_TestShowErrorDialogLogInfo, which reports it as error 2 and releases it. */
ERR_API char* _VX_formatErrorString(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
ERR_API int _VX_TestShowErrorDialogLogInfo(const char* file, int32_t line, char* text);

#define VX_ERROR(...) \
    ((void)_VX_TestShowErrorDialogLogInfo(__FILE__, __LINE__, _VX_formatErrorString(__VA_ARGS__)))

/* Called by the executive at system start: creates the error task. */
ERR_API void init_function(void);

#ifdef __cplusplus
}
#endif

#endif
