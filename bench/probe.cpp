// Fixed-size runs of one side of a benchmark, for strace -c (system calls per report: run with
// N and with 0, and divide the difference by N) and /usr/bin/time -v (peak memory).
//
//   err_bench_probe archive N      N reports through the running error task into the user log
//   err_bench_probe archive-burst N   the same, but the producer does not wait for the task
//                                  (at most 50,000 in flight), so the task runs on its own
//   err_bench_probe floor N        N archives by hand into a log with a free record (8 calls)
//   err_bench_probe floor-ring N   N archives by hand into a full log (10 calls)
//   err_bench_probe peer N         N messages through spdlog, flushed each
//   err_bench_probe report N       N EReportError calls, a thread draining ERROR_MBX
//   err_bench_probe send N         N sends of segments allocated beforehand, same drain
//
// Prints one line: mode, N, seconds, rate, reports lost.
#include <spdlog/spdlog.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "err/err.h"
#include "rtx/rtx.h"

using namespace errbench;

namespace {

constexpr std::uint32_t kWindow = 512;  // the producer never runs further ahead than this

int usage() {
    std::fprintf(
        stderr,
        "usage: err_bench_probe archive|archive-burst|floor|floor-ring|peer|report|send COUNT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return usage();
    const std::string mode = argv[1];
    const std::size_t count = std::strtoul(argv[2], nullptr, 10);
    using Clock = std::chrono::steady_clock;

    std::uint64_t lost = 0;
    double seconds = 0;
    if (mode == "archive" || mode == "archive-burst") {
        Executive executive(Receiver::ErrorTask);
        const std::uint32_t window = mode == "archive" ? kWindow : 50000;
        const auto t0 = Clock::now();
        for (std::size_t i = 0; i < count; ++i) {
            if (i % 64 == 0) executive.wait_below(window);
            report(i);
        }
        executive.sync();
        seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        lost = executive.dropped();
    } else if (mode == "floor" || mode == "floor-ring") {
        Executive executive(Receiver::ErrorTask);
        FloorLog floor(executive.host_path("LOG/USERERR.LOG"),
                       executive.host_path("LOG/FLOOR.LOG"));
        const bool ring = mode == "floor-ring";
        const auto t0 = Clock::now();
        for (std::size_t i = 0; i < count; ++i)
            if (!(ring ? floor.archive_ring(i) : floor.archive_free(i))) ++lost;
        seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    } else if (mode == "peer") {
        Executive executive(Receiver::Drain);  // for its temporary folder
        auto logger = make_peer_logger(executive.host_path("LOG/PEER.LOG"));
        const auto t0 = Clock::now();
        for (std::size_t i = 0; i < count; ++i) peer_report(*logger, i);
        seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    } else if (mode == "report" || mode == "send") {
        Executive executive(Receiver::Drain);
        const bool send = mode == "send";
        std::vector<std::uint16_t> segments(send ? 64 : 0);
        const auto t0 = Clock::now();
        for (std::size_t i = 0; i < count; ++i) {
            if (i % 64 == 0) {
                executive.wait_below(kWindow);
                for (std::uint16_t& s : segments) {
                    rtx_status status{};
                    old_rtx_global_alloc(&s, REPORT_SEGMENT_SIZE, 0, 0, &status, "probe", 0);
                }
            }
            if (send) {
                rtx_status status{};
                if (_rtx_sendmessage(executive.error_mbx(), segments[i % 64], 0, &status) != 0)
                    ++lost;
            } else if (report(i) != 0) {
                ++lost;
            }
        }
        seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        lost += executive.dropped();
        // Segments allocated for the last batch but not sent are freed with the executive.
    } else {
        return usage();
    }
    std::printf("%s %zu %.6f %.1f %llu\n", mode.c_str(), count, seconds,
                seconds > 0 ? static_cast<double>(count) / seconds : 0.0,
                static_cast<unsigned long long>(lost));
    return lost == 0 ? 0 : 1;
}
