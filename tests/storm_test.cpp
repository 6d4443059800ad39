// Error storms: eight tasks report as fast as they can while the error task archives. Every
// report is either handled by the error task or dropped at its allocation (the caller never
// waits and never fails otherwise), the segments in use never exceed the executive's pool, none
// is left behind, and both logs are valid afterwards.
//
// STORM_REPORTS (environment) sets the reports per thread of the bounded-pool storm (default
// 500); scripts/long-runs runs it with 50000.
#include <atomic>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "reliability_system.h"

namespace {

using reliability::contains;
using reliability::kSystemError;
using reliability::kUserError;
using reliability::System;
using Start = reliability::System::Start;

constexpr int kThreads = 8;

unsigned reports_per_thread(unsigned fallback) {
    const char* v = std::getenv("STORM_REPORTS");
    const long n = v ? std::atol(v) : 0;
    return n > 0 ? unsigned(n) : fallback;
}

struct StormResult {
    std::uint64_t reports = 0;
    std::atomic<std::uint64_t> sent{0};         // EReportError returned 0
    std::atomic<std::uint64_t> sent_system{0};  // of which system errors
    std::atomic<std::uint64_t> dropped{0};      // EReportError returned RTX_E_NOMEM
    std::atomic<std::uint64_t> other{0};        // any other status (none expected)
    rtx_host_counters before{};
    rtx_host_counters after{};

    std::uint64_t delta_calls(rtx_host_op op) const { return after.calls[op] - before.calls[op]; }
    std::uint64_t delta_failed(rtx_host_op op) const {
        return after.failed[op] - before.failed[op];
    }
};

// Runs the storm on a started system; waits until the task has taken every queued report and
// answered one final sync.
void storm(System& sys, unsigned per_thread, StormResult& r) {
    rtx_host_get_counters(&r.before);
    r.reports = std::uint64_t(kThreads) * per_thread;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            const std::uint16_t number = t % 2 ? kSystemError : kUserError;
            for (unsigned i = 0; i < per_thread; ++i) {
                const std::string info = "t" + std::to_string(t) + "-" + std::to_string(i);
                const int status = EReportError("storm.cpp", int(i), number, info.c_str());
                ++(status == RTX_OK ? r.sent : status == RTX_E_NOMEM ? r.dropped : r.other);
                if (status == RTX_OK && number == kSystemError) ++r.sent_system;
            }
        });
    }
    go = true;
    for (auto& t : threads) t.join();
    // The queue drains, then one sync: everything before it has been handled.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (rtx_host_mailbox_depth(sys.error_mbx()) != 0 &&
           std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(sys.sync());
    // The task frees the sync's request just after answering it.
    while (std::chrono::steady_clock::now() < limit) {
        rtx_host_get_counters(&r.after);
        if (r.after.segments_in_use == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The counts that hold for every storm: one allocation per report (and one for the sync),
// failed allocations are the dropped reports, every sent report was handled by the task (each
// archive opens its log once, and nothing else opens a file meanwhile), and no segment is left.
void expect_accounted(const StormResult& r, System& sys) {
    EXPECT_EQ(r.other, 0u);
    EXPECT_EQ(r.sent + r.dropped, r.reports);
    EXPECT_EQ(r.delta_calls(RTX_OP_ALLOC), r.reports + 1);
    EXPECT_EQ(r.delta_failed(RTX_OP_ALLOC), r.dropped);
    EXPECT_EQ(r.delta_calls(RTX_OP_FILE_OPEN), r.sent);
    EXPECT_EQ(r.delta_failed(RTX_OP_FILE_OPEN), 0u);
    EXPECT_EQ(r.after.segments_in_use, 0u);
    EXPECT_TRUE(sys.log_valid("USERERR.LOG"));
    EXPECT_TRUE(sys.log_valid("SYSERR.LOG"));
    EXPECT_EQ(sys.console(), "");
    const std::pair<const char*, std::uint64_t> counts[] = {
        {"reports", r.reports},
        {"handled", r.sent},
        {"dropped", r.dropped},
        {"peak_segments", r.after.segments_peak}};
    for (const auto& [name, value] : counts)
        ::testing::Test::RecordProperty(name, std::to_string(value));
    std::cout << "storm: " << r.reports << " reports, " << r.sent << " handled, " << r.dropped
              << " dropped at allocation, peak " << r.after.segments_peak << " segments\n";
}

TEST(Storm, BoundedPoolDropsAtAllocationAndStaysWithinIt) {
    constexpr unsigned kLimit = 32;
    System sys;
    ASSERT_EQ(sys.start([] { rtx_host_set_segment_limit(kLimit); }), Start::serving);
    StormResult r;
    storm(sys, reports_per_thread(500), r);
    expect_accounted(r, sys);
    EXPECT_LE(r.after.segments_peak, kLimit);
    EXPECT_GT(r.sent, 0u);
    // Handled errors of each kind are in their log.
    EXPECT_EQ(contains(sys.log("USERERR.LOG"), "Rel user t"), r.sent > r.sent_system);
    EXPECT_EQ(contains(sys.log("SYSERR.LOG"), "Rel system t"), r.sent_system > 0);
}

TEST(Storm, AmplePoolHandlesEveryReport) {
    constexpr unsigned kPerThread = 200;
    System sys;
    ASSERT_EQ(sys.start([] { rtx_host_set_segment_limit(kThreads * kPerThread + 16); }),
              Start::serving);
    StormResult r;
    storm(sys, kPerThread, r);
    expect_accounted(r, sys);
    EXPECT_EQ(r.dropped, 0u);
    EXPECT_EQ(r.sent, r.reports);
    // Every thread's last report was handled after all its earlier ones; the very last
    // report of all is the newest error of its log.
    EXPECT_TRUE(contains(sys.log("USERERR.LOG"), "Rel user t"));
    EXPECT_TRUE(contains(sys.log("SYSERR.LOG"), "Rel system t"));
}

}  // namespace
