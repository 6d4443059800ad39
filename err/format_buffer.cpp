// The shared format buffer: one 200-byte buffer for information texts, guarded by an
// executive semaphore that is created on the first EFormatLock.
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "err/report.h"
#include "rtx/rtx.h"

namespace {

constexpr std::size_t kFormatBufferSize = 200;

char g_buffer[kFormatBufferSize];

// Marks and identifier are atomics only so that tasks reading them while another task
// changes them see whole values; their meaning is that of plain flags.
std::atomic<std::uint16_t> g_sema{0};
std::atomic<int> g_first_use{1};
std::atomic<int> g_unusable{1};

// Serialises the one-time creation of the semaphore when two tasks make their first
// EFormatLock together, so that exactly one semaphore is created. A failed creation leaves
// the first-use mark set, and the next EFormatLock (also one waiting here) tries again.
std::mutex g_create_mutex;

bool ensure_semaphore() {
    if (g_first_use.load(std::memory_order_acquire) == 0) return true;
    std::lock_guard<std::mutex> guard(g_create_mutex);
    if (g_first_use.load(std::memory_order_acquire) == 0) return true;
    rtx_status status{};
    std::uint16_t sema = 0;
    rtx_createsema(&sema, 1, 1, 0, &status);
    if (status.status != RTX_OK) return false;
    g_sema.store(sema, std::memory_order_release);
    g_first_use.store(0, std::memory_order_release);
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
