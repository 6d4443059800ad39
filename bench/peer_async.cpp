// peer/spdlog_async: the caller's cost of the report stream written by spdlog's asynchronous
// logger (one file sink, its default queue of 8192 messages and its one worker thread, a full
// queue blocks the caller), timed like caller/EReportError with a draining thread: batches of
// 64 calls timed by the calling thread, and before each batch (untimed) the caller waits until
// fewer than 256 messages wait in the queue, as it waits for ERROR_MBX on our side. So both sides
// measure the hand-over to a consumer that keeps up, not the consumer's own speed.
#include <benchmark/benchmark.h>
#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/sinks/basic_file_sink.h>

#include <chrono>
#include <memory>
#include <thread>

#include "bench_support.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kBatch = 64;
constexpr std::size_t kWindow = 256;

struct AsyncPeer {
    std::unique_ptr<errbench::Executive> executive;  // for its temporary folder
    std::shared_ptr<spdlog::details::thread_pool> pool;
    std::shared_ptr<spdlog::async_logger> logger;
};

std::unique_ptr<AsyncPeer> g_async;

void setup(const benchmark::State&) {
    g_async = std::make_unique<AsyncPeer>();
    g_async->executive = std::make_unique<errbench::Executive>(errbench::Receiver::Drain);
    g_async->pool =
        std::make_shared<spdlog::details::thread_pool>(spdlog::details::default_async_q_size, 1);
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(
        g_async->executive->host_path("LOG/PEER_ASYNC.LOG"), true);
    g_async->logger = std::make_shared<spdlog::async_logger>(
        "peer_async", std::move(sink), g_async->pool, spdlog::async_overflow_policy::block);
    g_async->logger->set_level(spdlog::level::trace);
}

void teardown(const benchmark::State&) {
    if (g_async) {
        g_async->logger->flush();
        g_async->logger.reset();
        g_async->pool.reset();  // joins the worker once the queue is written
    }
    g_async.reset();
}

void async_caller(benchmark::State& state) {
    std::size_t i = static_cast<std::size_t>(state.thread_index()) * 1000003u;
    double timed = 0;
    std::uint64_t calls = 0;
    spdlog::logger& logger = *g_async->logger;
    spdlog::details::thread_pool& pool = *g_async->pool;
    for (auto _ : state) {
        while (pool.queue_size() >= kWindow)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        const auto t0 = Clock::now();
        for (std::size_t k = 0; k < kBatch; ++k) errbench::peer_report(logger, i++);
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(seconds);
        timed += seconds;
        calls += kBatch;
    }
    state.counters["ns_per_call"] = benchmark::Counter(timed * 1e9 / static_cast<double>(calls),
                                                       benchmark::Counter::kAvgThreads);
    state.counters["calls_per_s"] = benchmark::Counter(static_cast<double>(calls) / timed);
}

[[maybe_unused]] const bool registered = [] {
    benchmark::RegisterBenchmark("peer/spdlog_async", async_caller)
        ->Setup(setup)
        ->Teardown(teardown)
        ->UseManualTime()
        ->MinTime(0.1)
        ->Arg(0)
        ->Threads(1)
        ->Threads(2);
    return true;
}();

}  // namespace
