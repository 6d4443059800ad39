// An error storm in a bounded pool: eight tasks report as fast as they can (STORM_REPORTS each,
// default 500) while the error task archives. Every report is handled or dropped at its
// allocation (the caller never waits or fails otherwise), the pool is never exceeded, no segment
// is left, both logs are valid. (An ample pool, where none is dropped: the errsim_storm run.)
#include <atomic>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "reliability_system.h"

namespace {

using reliability::contains;
using reliability::System;

TEST(Storm, BoundedPoolDropsAtAllocationAndStaysWithinIt) {
    constexpr unsigned kLimit = 32, kThreads = 8;
    const char* v = std::getenv("STORM_REPORTS");
    const std::uint64_t per_thread = v && std::atol(v) > 0 ? std::atol(v) : 500;
    const std::uint64_t reports = kThreads * per_thread;
    System sys;
    ASSERT_TRUE(sys.start([] { rtx_host_set_segment_limit(kLimit); }));

    rtx_host_counters before{}, after{};
    rtx_host_get_counters(&before);
    std::atomic<std::uint64_t> sent{0}, sent_system{0}, dropped{0}, other{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            const std::uint16_t number =
                t % 2 ? reliability::kSystemError : reliability::kUserError;
            for (std::uint64_t i = 0; i < per_thread; ++i) {
                const std::string info = "t" + std::to_string(t) + "-" + std::to_string(i);
                const int status = EReportError("storm.cpp", int(i), number, info.c_str());
                ++(status == RTX_OK ? sent : status == RTX_E_NOMEM ? dropped : other);
                if (status == RTX_OK && number == reliability::kSystemError) ++sent_system;
            }
        });
    }
    go = true;
    for (auto& t : threads) t.join();
    // The queue drains, then one sync: everything before it has been handled; the task frees
    // the sync's request just after answering it.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (rtx_host_mailbox_depth(sys.world->error_mbx()) != 0 &&
           std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(sys.sync());
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        rtx_host_get_counters(&after);
    } while (after.segments_in_use != 0 && std::chrono::steady_clock::now() < limit);

    // One allocation per report (and one for the sync); the failed ones are the dropped
    // reports; every sent report was handled (each archive opens its log once).
    EXPECT_EQ(other, 0u);
    EXPECT_EQ(sent + dropped, reports);
    EXPECT_GT(sent, 0u);
    EXPECT_EQ(after.calls[RTX_OP_ALLOC] - before.calls[RTX_OP_ALLOC], reports + 1);
    EXPECT_EQ(after.failed[RTX_OP_ALLOC] - before.failed[RTX_OP_ALLOC], dropped);
    EXPECT_EQ(after.calls[RTX_OP_FILE_OPEN] - before.calls[RTX_OP_FILE_OPEN], sent);
    EXPECT_EQ(after.failed[RTX_OP_FILE_OPEN] - before.failed[RTX_OP_FILE_OPEN], 0u);
    EXPECT_EQ(after.segments_in_use, 0u);
    EXPECT_LE(after.segments_peak, kLimit);
    EXPECT_TRUE(sys.log_valid("USERERR.LOG"));
    EXPECT_TRUE(sys.log_valid("SYSERR.LOG"));
    EXPECT_STREQ(rtx_host_console_text(), "");
    EXPECT_EQ(contains(sys.log("USERERR.LOG"), "Rel user t"), sent > sent_system);
    EXPECT_EQ(contains(sys.log("SYSERR.LOG"), "Rel system t"), sent_system > 0);
    std::cout << "storm: " << reports << " reports, " << sent << " handled, " << dropped
              << " dropped at allocation, peak " << after.segments_peak << " segments\n";
}

}  // namespace
