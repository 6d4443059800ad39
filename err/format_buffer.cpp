// The shared format buffer: one 200-byte buffer for information texts, guarded by an
// executive semaphore that is created on the first EFormatLock.
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "err/report.h"
#include "rtx/rtx.h"

namespace {

constexpr std::size_t kFormatBufferSize = 200;

char g_buffer[kFormatBufferSize];

// The semaphore's identifier, 0 until one is created: it doubles as the first-use mark. The
// marks are atomics only so that tasks reading them while another task changes them see whole
// values; their meaning is that of plain flags.
std::atomic<std::uint16_t> g_sema{0};
std::atomic<int> g_unusable{1};

// Two tasks that make their first EFormatLock together may both create a semaphore; the
// first to publish its identifier wins, and every task, the loser too, uses that one. The
// loser's semaphore is never taken (the executive offers the module no call to delete it),
// so at most one semaphore per task that races the very first lock stays unused. No task
// waits for another's creation: on the instrument a waiting task of higher priority could
// keep the creating task from ever finishing. A failed creation publishes nothing, so the
// next EFormatLock tries again.
bool ensure_semaphore() {
    if (g_sema.load(std::memory_order_acquire) != 0) return true;
    rtx_status status{};
    std::uint16_t sema = 0;
    rtx_createsema(&sema, 1, 1, 0, &status);
    if (status.status != RTX_OK) return false;
    std::uint16_t none = 0;
    g_sema.compare_exchange_strong(none, sema, std::memory_order_acq_rel,
                                   std::memory_order_acquire);
    return true;
}

}  // namespace

extern "C" void EFormatLock(void) {
    if (!ensure_semaphore()) {
        g_unusable.store(1);
        return;
    }
    rtx_status status{};
    rtx_getsema(g_sema.load(std::memory_order_acquire), -1, &status);
    g_unusable.store(status.status != RTX_OK ? 1 : 0);
}

extern "C" char* EFormat(const char* format, ...) {
    if (g_unusable.load() != 0 || g_sema.load(std::memory_order_acquire) == 0 ||
        format == nullptr) {
        g_buffer[0] = '\0';
        return g_buffer;
    }
    // Bounded by the buffer: a longer text is cut to 199 characters (a report carries 120).
    va_list args;
    va_start(args, format);
    std::vsnprintf(g_buffer, sizeof g_buffer, format, args);
    va_end(args);
    return g_buffer;
}

extern "C" void EFormatUnlock(void) {
    rtx_status status{};
    rtx_sendsema(g_sema.load(std::memory_order_acquire), &status);
    if (status.status != RTX_OK) g_unusable.store(1);
}
