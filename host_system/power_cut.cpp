#include "host_system/power_cut.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "rtx/rtx_host.h"

namespace host_system {

namespace {

// "N" or "N:K", N above 0.
bool read_cut(const char* text, std::uint64_t& call, std::int64_t& torn) {
    char* end = nullptr;
    const unsigned long long n = std::strtoull(text, &end, 10);
    if (end == text || n == 0) return false;
    torn = -1;
    if (*end == ':') {
        const char* k_text = end + 1;
        const long long k = std::strtoll(k_text, &end, 10);
        if (end == k_text || k < 0) return false;
        torn = k;
    }
    call = n;
    return *end == 0;
}

}  // namespace

void arm_power_cut_from_environment() {
    static bool armed = false;
    if (armed) return;
    armed = true;
    if (const char* trace = std::getenv("ERR_POWER_TRACE"); trace && *trace) {
        if (rtx_host_power_trace(trace) != 0)
            std::fprintf(stderr, "host_system: cannot write the trace ERR_POWER_TRACE=%s\n", trace);
    }
    if (const char* cut = std::getenv("ERR_POWER_CUT"); cut && *cut) {
        std::uint64_t call = 0;
        std::int64_t torn = -1;
        if (read_cut(cut, call, torn))
            rtx_host_power_cut(call, torn);
        else
            std::fprintf(stderr, "host_system: ERR_POWER_CUT=%s is not N or N:K\n", cut);
    }
}

}  // namespace host_system
