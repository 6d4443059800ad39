// Error storms against the running error task, with a bounded segment pool: how many reports
// per second the task archives while reporting threads call EReportError as fast as they can,
// against the rate it reaches alone (one thread that keeps its mailbox filled and sleeps
// otherwise). Every report that is not archived must be a failed allocation.
//
//   err_bench_storm [SECONDS [THREADS [POOL]]]     default 10 s, 8 threads, 32 segments
//
// Prints one line for the task alone and one for the storm:
//   storm threads=N pool=P seconds=S attempted=A sent=X dropped=D failed_allocs=F handled=H
//         handled_per_s=R lost=L caller_p99_us=U caller_p999_us=V caller_max_us=W
// handled counts the archives made within the timed seconds (each opens the log once); lost is
// what was sent but not archived after the storm, plus any report that failed otherwise than
// at its allocation. caller_*_us: how long one EReportError call took in the timed seconds,
// its 99th and 99.9th percentile and the longest, in microseconds (to within 1/32 of the
// value). The exit status is 1 when anything was lost.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "err/err.h"
#include "rtx/rtx.h"
#include "rtx/rtx_host.h"

using namespace errbench;
using Clock = std::chrono::steady_clock;

namespace {

struct Counts {
    std::atomic<std::uint64_t> sent{0}, dropped{0}, other{0};
};

// Call durations in nanoseconds, counted in buckets of 1/32 of a power of two: a percentile
// is read to within about 3 % of its value, whatever the number of calls.
class Latencies {
  public:
    void add(std::uint64_t ns) { ++counts_[bucket(ns)]; }
    void merge(const Latencies& other) {
        for (std::size_t b = 0; b < kBuckets; ++b) counts_[b] += other.counts_[b];
    }
    // The upper end of the bucket that holds the call at fraction q (0 to 1) of all, in us.
    double percentile_us(double q) const {
        std::uint64_t total = 0;
        for (std::uint64_t c : counts_) total += c;
        if (total == 0) return 0;
        const auto rank = static_cast<std::uint64_t>(q * static_cast<double>(total - 1)) + 1;
        std::uint64_t seen = 0;
        for (std::size_t b = 0; b < kBuckets; ++b) {
            seen += counts_[b];
            if (seen >= rank) return static_cast<double>(upper(b)) / 1000.0;
        }
        return static_cast<double>(upper(kBuckets - 1)) / 1000.0;
    }

  private:
    static constexpr unsigned kSub = 5;  // 32 buckets per power of two
    static constexpr std::size_t kBuckets = (64 - kSub + 1) << kSub;
    static std::size_t bucket(std::uint64_t ns) {
        if (ns < (1u << kSub)) return static_cast<std::size_t>(ns);
        const unsigned top = 63u - static_cast<unsigned>(__builtin_clzll(ns));
        const unsigned shift = top - kSub;
        return (static_cast<std::size_t>(shift + 1) << kSub) + ((ns >> shift) & ((1u << kSub) - 1));
    }
    static std::uint64_t upper(std::size_t b) {
        if (b < (1u << kSub)) return b;
        const unsigned shift = static_cast<unsigned>(b >> kSub) - 1;
        const std::uint64_t low = ((std::uint64_t{1} << kSub) + (b & ((1u << kSub) - 1))) << shift;
        return low + (std::uint64_t{1} << shift) - 1;
    }
    std::array<std::uint64_t, kBuckets> counts_{};
};

rtx_host_counters counters() {
    rtx_host_counters c{};
    rtx_host_get_counters(&c);
    return c;
}

// Runs one phase: threads == 0 is the task alone. Returns whether nothing was lost.
bool phase(double seconds, unsigned threads, std::uint32_t pool) {
    Executive executive(Receiver::ErrorTask);
    for (std::size_t i = 0; i < 30; ++i) report(i);  // a full log: every report wraps the ring
    executive.sync();
    rtx_host_set_segment_limit(pool);

    Counts n;
    std::atomic<bool> stop{false}, timing{false};
    const unsigned callers = threads ? threads : 1;
    std::vector<Latencies> latencies(callers);
    const auto run = [&](unsigned caller, bool paced) {
        Latencies& own = latencies[caller];
        for (std::size_t i = std::size_t{caller} * 1000003u; !stop.load(std::memory_order_relaxed);
             ++i) {
            if (paced) {
                // Alone: keep the mailbox filled, below the pool, and otherwise sleep.
                while (rtx_host_mailbox_depth(executive.error_mbx()) + 8 >= pool &&
                       !stop.load(std::memory_order_relaxed))
                    std::this_thread::sleep_for(std::chrono::microseconds(20));
            }
            const auto called = Clock::now();
            const int status = report(i);
            const auto returned = Clock::now();
            if (timing.load(std::memory_order_relaxed)) {
                own.add(static_cast<std::uint64_t>(
                    std::chrono::duration_cast<std::chrono::nanoseconds>(returned - called)
                        .count()));
            }
            ++(status == RTX_OK ? n.sent : status == RTX_E_NOMEM ? n.dropped : n.other);
        }
    };

    const rtx_host_counters before = counters();
    std::vector<std::thread> reporters;
    for (unsigned t = 0; t < callers; ++t) reporters.emplace_back(run, t, threads == 0);
    // The timed window starts once the storm runs.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const rtx_host_counters start = counters();
    const auto t0 = Clock::now();
    timing = true;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    timing = false;
    const rtx_host_counters end = counters();
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    stop = true;
    for (std::thread& t : reporters) t.join();
    Latencies calls;
    for (const Latencies& l : latencies) calls.merge(l);

    // Everything sent is archived before the answer to a final sync.
    while (rtx_host_mailbox_depth(executive.error_mbx()) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    executive.sync();
    const rtx_host_counters after = counters();

    const std::uint64_t handled = end.calls[RTX_OP_FILE_OPEN] - start.calls[RTX_OP_FILE_OPEN];
    const std::uint64_t archived = after.calls[RTX_OP_FILE_OPEN] - before.calls[RTX_OP_FILE_OPEN];
    const std::uint64_t failed_allocs = after.failed[RTX_OP_ALLOC] - before.failed[RTX_OP_ALLOC];
    const std::uint64_t attempted = n.sent + n.dropped + n.other;
    const std::uint64_t lost =
        (n.sent > archived ? n.sent - archived : 0) + n.other +
        (failed_allocs > n.dropped ? failed_allocs - n.dropped : n.dropped - failed_allocs);
    std::printf(
        "storm threads=%u pool=%u seconds=%.3f attempted=%llu sent=%llu dropped=%llu "
        "failed_allocs=%llu "
        "handled=%llu handled_per_s=%.1f lost=%llu caller_p99_us=%.3f caller_p999_us=%.3f "
        "caller_max_us=%.3f\n",
        threads, pool, elapsed, static_cast<unsigned long long>(attempted),
        static_cast<unsigned long long>(n.sent.load()),
        static_cast<unsigned long long>(n.dropped.load()),
        static_cast<unsigned long long>(failed_allocs), static_cast<unsigned long long>(handled),
        static_cast<double>(handled) / elapsed, static_cast<unsigned long long>(lost),
        calls.percentile_us(0.99), calls.percentile_us(0.999), calls.percentile_us(1.0));
    std::fflush(stdout);
    return lost == 0 && archived == n.sent;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const unsigned threads = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 8;
    const auto pool = static_cast<std::uint32_t>(argc > 3 ? std::atoi(argv[3]) : 32);
    if (seconds <= 0 || threads == 0 || pool < 16) {
        std::fprintf(stderr, "usage: err_bench_storm [SECONDS [THREADS [POOL]]] (POOL >= 16)\n");
        return 2;
    }
    bool ok = phase(seconds, 0, pool);
    ok = phase(seconds, threads, pool) && ok;
    return ok ? 0 : 1;
}
