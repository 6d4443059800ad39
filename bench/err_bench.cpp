// The benchmark suite. Every family compares against a floor measured in the same run:
//   caller/*     the caller's cost of EReportError vs a bare _rtx_sendmessage of a segment
//                allocated beforehand, with 1, 2, 4 and 8 reporting threads; a thread drains
//                ERROR_MBX on both sides;
//   caller_alone/* the same calls with no other thread: the caller empties the mailbox
//                between its batches, untimed;
//   caller_paced/* the same two sides with each call timed on its own and the floor's segment
//                allocated just before its send, so that both reach the drain paced alike;
//   caller*/executive_calls  the executive calls every report makes (lookup, alloc, address,
//                send) with a prepared report copied in: what is left of EReportError beside
//                it is the module's own work;
//   archive/*    reports per second through the running error task into the user log, vs the
//                fewest POSIX calls one archive needs, measured batch for batch beside it;
//   peer/*       the same stream written by spdlog to a file, flushed per message;
//   logops/*     validation of a full log vs reading the file once; its export vs reading the
//                log once and writing the archive's bytes once, into a new archive file and
//                over the one of the previous export; each beside its floor, operation for
//                operation;
//   machine/line_round_trip  what one hand-over between two threads costs on this machine: a
//                word passed to another thread and back (two cache-line transfers).
// bench/run turns the JSON output into the table of ratios.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "err/err.h"
#include "log.h"
#include "log_format.h"
#include "rtx/rtx.h"
#include "rtx/rtx_host.h"

using errbench::Executive;
using errbench::Receiver;

namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<Executive> g_executive;
std::unique_ptr<errbench::FloorLog> g_floor;
std::shared_ptr<spdlog::logger> g_peer;
std::string g_full_log;

// ---- Set-up shared by the families --------------------------------------------------------

void setup_drain(const benchmark::State&) {
    g_executive = std::make_unique<Executive>(Receiver::Drain);
}

void setup_caller_drains(const benchmark::State&) {
    g_executive = std::make_unique<Executive>(Receiver::Caller);
}

void setup_task(const benchmark::State&) {
    g_executive = std::make_unique<Executive>(Receiver::ErrorTask);
}

// The floor's log: a copy of the task's user log as it is now.
void copy_floor_log() {
    g_floor = std::make_unique<errbench::FloorLog>(g_executive->host_path("LOG/USERERR.LOG"),
                                                   g_executive->host_path("LOG/FLOOR.LOG"));
}

// The error task with a fresh user log, and the floor's copy of it. The task's thread is started
// on the measured processor (errbench::place_on_measured_processor), the producer stays on the
// other.
void setup_task_free(const benchmark::State& state) {
    errbench::place_on_measured_processor();
    setup_task(state);
    errbench::place_on_producer_processor();
    copy_floor_log();
}

// The error task with a full user log: every further report wraps the ring; and the floor's
// copy of it.
void setup_task_full(const benchmark::State& state) {
    errbench::place_on_measured_processor();
    setup_task(state);
    errbench::place_on_producer_processor();
    for (std::size_t i = 0; i < 30; ++i) errbench::report(i);
    g_executive->sync();
    copy_floor_log();
}

void setup_peer(const benchmark::State& state) {
    setup_drain(state);
    g_peer = errbench::make_peer_logger(g_executive->host_path("LOG/PEER.LOG"));
}

void setup_full_log(const benchmark::State& state) {
    setup_drain(state);
    g_full_log = errbench::make_full_user_log(*g_executive);
}

void teardown(const benchmark::State&) {
    errbench::place_anywhere();
    g_peer.reset();
    g_floor.reset();
    g_executive.reset();
}

void note_dropped(benchmark::State& state) {
    if (state.thread_index() == 0 && g_executive)
        state.counters["dropped"] = static_cast<double>(g_executive->dropped());
}

// ---- Caller cost --------------------------------------------------------------------------

constexpr std::size_t kBatch = 64;      // calls timed together (one clock read per batch)
constexpr std::uint32_t kWindow = 256;  // most messages waiting on ERROR_MBX before a batch
// Seconds of timed calls per run. Only the calls are timed, and the untimed set-up of a batch
// (allocating the floor's segments) takes longer than the sends, so a run lasts a few times this.
constexpr double kCallerMinTime = 0.1;

enum class CallerSide { Report, FloorSend, ExecutiveCalls, Peer };

// A 232-byte segment for the floor's bare send, zeroed with one block; 0 when none is left.
std::uint16_t floor_segment() {
    std::uint16_t segment = 0;
    rtx_status status{};
    old_rtx_global_alloc(&segment, REPORT_SEGMENT_SIZE, 0, 0, &status, "err_bench", __LINE__);
    if (status.status != RTX_OK) return 0;
    auto* p = static_cast<std::uint8_t*>(buildptr(segment, 0));
    std::memset(p, 0, REPORT_SEGMENT_SIZE);
    p[MSG_BLOCK_COUNT] = 1;
    return segment;
}

// One iteration is a batch of kBatch calls, timed by the thread itself; the set-up of a batch
// (waiting for the drain, allocating the floor's segments) is not timed. ns_per_call is the
// mean time a caller spends in one call, averaged over the threads.
void caller(benchmark::State& state, CallerSide side) {
    std::array<std::uint16_t, kBatch> segments{};
    std::size_t i = static_cast<std::size_t>(state.thread_index()) * 1000003u;
    double timed = 0;
    std::uint64_t calls = 0, failures = 0;
    const std::uint16_t mailbox = g_executive->error_mbx();
    const bool caller_drains = state.range(0) == 1;
    for (auto _ : state) {
        if (caller_drains)
            g_executive->take_all();
        else if (side != CallerSide::Peer)
            g_executive->wait_below(kWindow);
        if (side == CallerSide::FloorSend) {
            for (std::uint16_t& segment : segments) {
                segment = floor_segment();
                if (segment == 0) {
                    state.SkipWithError("cannot allocate a segment");
                    return;
                }
            }
        }
        const auto t0 = Clock::now();
        switch (side) {
            case CallerSide::Report:
                for (std::size_t k = 0; k < kBatch; ++k) failures += errbench::report(i++) != 0;
                break;
            case CallerSide::FloorSend:
                for (std::uint16_t segment : segments) {
                    rtx_status status{};
                    failures += _rtx_sendmessage(mailbox, segment, 0, &status) != 0;
                }
                break;
            case CallerSide::ExecutiveCalls:
                for (std::size_t k = 0; k < kBatch; ++k)
                    failures += errbench::report_by_executive_calls(i++) != 0;
                break;
            case CallerSide::Peer:
                for (std::size_t k = 0; k < kBatch; ++k) errbench::peer_report(*g_peer, i++);
                break;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(seconds);
        timed += seconds;
        calls += kBatch;
    }
    state.counters["ns_per_call"] = benchmark::Counter(timed * 1e9 / static_cast<double>(calls),
                                                       benchmark::Counter::kAvgThreads);
    state.counters["calls_per_s"] = benchmark::Counter(static_cast<double>(calls) / timed);
    state.counters["failed"] = static_cast<double>(failures);
    note_dropped(state);
}

// The same two sides paced alike: every call is timed on its own, and the floor allocates and
// fills each segment (untimed) just before its send, so that calls reach the drain a few
// hundred nanoseconds apart on both sides and the drain falls asleep between them on both.
// Both sides pay the same two clock reads per call.
void caller_paced(benchmark::State& state, CallerSide side) {
    std::size_t i = 0;
    double timed = 0;
    std::uint64_t calls = 0, failures = 0;
    const std::uint16_t mailbox = g_executive->error_mbx();
    for (auto _ : state) {
        g_executive->wait_below(kWindow);
        double batch = 0;
        for (std::size_t k = 0; k < kBatch; ++k) {
            const std::uint16_t segment = side == CallerSide::FloorSend ? floor_segment() : 1;
            if (segment == 0) {
                state.SkipWithError("cannot allocate a segment");
                return;
            }
            const auto t0 = Clock::now();
            if (side == CallerSide::FloorSend) {
                rtx_status status{};
                failures += _rtx_sendmessage(mailbox, segment, 0, &status) != 0;
            } else {
                failures += errbench::report(i++) != 0;
            }
            batch += std::chrono::duration<double>(Clock::now() - t0).count();
        }
        state.SetIterationTime(batch);
        timed += batch;
        calls += kBatch;
    }
    state.counters["ns_per_call"] = timed * 1e9 / static_cast<double>(calls);
    state.counters["failed"] = static_cast<double>(failures);
    note_dropped(state);
}

// ---- Archive throughput -------------------------------------------------------------------

constexpr std::size_t kStreamBatch = 250;  // reports per timed batch into the full log

// A batch through the task is queued while the task is held (Executive::hold: it waits for the
// acknowledgement of a status text), together with a final message behind it, and timed from
// the release until the default response to that message is back: the task then works through
// a queue that the producer filled beforehand, as it does when reports come faster than it
// archives them. The same with nothing queued is the round trip that every batch holds (the
// task's wake-up at the release, the response's way back to a producer that watches for it);
// what a batch takes beyond it is the task's work on the batch's reports (task_reports_per_s).
//
// The floor is measured beside the task, batch for batch: right after each batch, as many
// archives by hand with the fewest system calls on a copy of the task's log (floor_reports_per_s),
// so that both see the same machine while its load changes. The floor runs in a thread of its
// own that waits while the task works, as the task waits while the floor works, and is started
// for its batch and timed alike, its round trip (a batch of none) left out the same way: both
// sides begin a batch on a processor that stood idle meanwhile. On a virtual machine that
// matters: the same archives by hand take up to half as long again right after a millisecond of
// idleness as on a processor kept busy, and the task always begins after such a stretch (the
// producer queues its batch meanwhile). Both sides' threads
// run on one processor and the producer on another (errbench::place_on_measured_processor), so
// that the two sides meet the same processor in every run.
//
// Each figure is taken from the median batch, round trip and floor batch of the run: a machine
// shared with other work stalls a thread now and then for milliseconds (a wake-up delayed, a
// write held back while the file system writes back), and one such stall would otherwise weigh
// on the mean of all the batches.

// The floor's thread: archives by hand, a batch at a time, on the floor's copy of the log.
class FloorThread {
  public:
    explicit FloorThread(bool ring) : ring_(ring), thread_([this] { run(); }) {}
    ~FloorThread() {
        {
            std::lock_guard<std::mutex> lock(m_);
            stop_ = true;
        }
        cv_.notify_one();
        thread_.join();
    }
    // A batch of n archives, timed as a batch through the task is: the thread is woken once
    // untimed just before (as the task handles the holding report just before its release),
    // and once it sleeps again the batch is started and watched, without sleeping, until it is
    // done (as Executive::wait_sync watches for the task's response). Returns its time.
    double batch(std::size_t n) {
        exchange(0);
        return exchange(n);
    }
    bool failed() const { return failed_.load(); }

  private:
    double exchange(std::size_t n) {
        done_.store(false, std::memory_order_relaxed);
        // Asleep: a batch begins with a wake-up, as the task's does.
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(m_);
                if (asleep_) break;
            }
            std::this_thread::yield();
        }
        std::this_thread::sleep_for(errbench::kAsleepFor);
        const auto t0 = Clock::now();
        {
            std::lock_guard<std::mutex> lock(m_);
            requested_ = n;
            pending_ = true;
        }
        cv_.notify_one();
        if (!errbench::watch_until([this] { return done_.load(std::memory_order_acquire); },
                                   std::chrono::seconds(60)))
            failed_.store(true);
        return std::chrono::duration<double>(Clock::now() - t0).count();
    }
    void run() {
        for (;;) {
            std::size_t n = 0;
            {
                std::unique_lock<std::mutex> lock(m_);
                asleep_ = true;
                cv_.wait(lock, [this] { return pending_ || stop_; });
                asleep_ = false;
                if (stop_) return;
                pending_ = false;
                n = requested_;
            }
            for (std::size_t k = 0; k < n; ++k, ++next_)
                if (!(ring_ ? g_floor->archive_ring(next_) : g_floor->archive_free(next_)))
                    failed_.store(true);
            done_.store(true, std::memory_order_release);
        }
    }

    const bool ring_;
    std::mutex m_;
    std::condition_variable cv_;
    std::size_t requested_ = 0;
    bool pending_ = false;
    bool stop_ = false;
    bool asleep_ = false;   // waiting for a batch (under m_)
    std::size_t next_ = 0;  // the floor's own stream position
    std::atomic<bool> done_{false};
    std::atomic<bool> failed_{false};
    std::thread thread_;  // last: started when the rest is set up
};

struct ArchiveTimes {
    std::size_t batch_reports = 0;
    std::vector<double> batches;            // whole batches through the task
    std::vector<double> round_trips;        // the round trips timed before them
    std::vector<double> floors;             // the floor's batches
    std::vector<double> floor_round_trips;  // the floor's round trips timed before them
    std::unique_ptr<FloorThread> floor;

    // The floor's thread is started on the measured processor, beside the task's.
    ArchiveTimes(std::size_t n, bool ring) : batch_reports(n), floor(start_floor(ring)) {}
    static std::unique_ptr<FloorThread> start_floor(bool ring) {
        errbench::place_on_measured_processor();
        auto f = std::make_unique<FloorThread>(ring);
        errbench::place_on_producer_processor();
        return f;
    }

    static double seconds_since(Clock::time_point t0) {
        return std::chrono::duration<double>(Clock::now() - t0).count();
    }
    static double median(std::vector<double> v) {
        if (v.empty()) return 0;
        std::sort(v.begin(), v.end());
        const std::size_t m = v.size() / 2;
        return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
    }
    // One held batch of n reports of the stream from *next on; returns its time.
    static double held_batch(std::size_t n, std::size_t& next) {
        g_executive->hold();
        for (std::size_t k = 0; k < n; ++k) errbench::report(next++);
        g_executive->send_sync();
        g_executive->wait_held_asleep();
        const auto t0 = Clock::now();
        g_executive->release();
        g_executive->wait_sync();
        return seconds_since(t0);
    }
    // A round trip, a batch (the benchmark's iteration time), and the floor's beside them.
    void batch(benchmark::State& state, std::size_t& next) {
        round_trips.push_back(held_batch(0, next));
        const double seconds = held_batch(batch_reports, next);
        state.SetIterationTime(seconds);
        batches.push_back(seconds);
        floor_round_trips.push_back(floor->batch(0));
        floors.push_back(floor->batch(batch_reports));
    }
    void counters(benchmark::State& state) const {
        if (floor->failed()) state.SkipWithError("floor archive failed");
        const double n = static_cast<double>(batch_reports);
        const double batch = median(batches), trip = median(round_trips);
        const double floor_trip = median(floor_round_trips);
        const double floor_work = median(floors) - floor_trip;
        state.counters["reports_per_s"] = n / batch;
        state.counters["round_trip_us"] = trip * 1e6;
        const double work = batch - trip;
        state.counters["task_reports_per_s"] = work > 0 ? n / work : 0.0;
        state.counters["task_us_per_report"] = work * 1e6 / n;
        state.counters["floor_reports_per_s"] = floor_work > 0 ? n / floor_work : 0.0;
        state.counters["floor_us_per_report"] = floor_work * 1e6 / n;
        state.counters["floor_round_trip_us"] = floor_trip * 1e6;
        note_dropped(state);
    }
};

// Batches of reports through the running error task into a full user log: the ring wraps on
// every report. Floor: the full-ring archive (10 calls).
void archive_full_ring(benchmark::State& state) {
    std::size_t i = 0;
    ArchiveTimes times(kStreamBatch, true);
    for (auto _ : state) times.batch(state, i);
    times.counters(state);
}

// Batches of 24 reports into a user log whose errors were erased just before (not timed): every
// report takes a free record. Floor: the free-record archive (8 calls).
void archive_free_records(benchmark::State& state) {
    std::size_t i = 0;
    ArchiveTimes times(24, false);
    for (auto _ : state) {
        g_executive->command(CMD_ERASE_ALL_USER);
        times.batch(state, i);
    }
    times.counters(state);
}

// ---- Validation and export of a full log --------------------------------------------------

// Each operation is measured beside its floor, operation for operation, so that both see the same
// machine and the same file system (creating a file, or emptying one that holds data, costs very
// different times from one moment to the next on ext4); each figure is the median of a run.
enum class LogOp {
    Validate,   // start-up validation (open_log_file); floor: the file read once
    ExportNew,  // export_log into a new archive file (the last one removed, untimed); floor: the
                // log read once and the archive's bytes written once into a new file
    ExportOver  // export_log over the archive of the previous export; floor: the log read once
                // and the archive's bytes written once over the floor's previous file
};

constexpr const char* kArchiveName = "\\EXPORT.TXT";

void logops(benchmark::State& state, LogOp op) {
    const std::string archive = g_executive->host_path("EXPORT.TXT");
    const std::string floor_file = g_executive->host_path("FLOOR.TXT");
    // The bytes of the archive that every export writes (an export clears new_records, so this
    // first one's head differs from the later ones by the count of new errors only).
    err::export_log(1, kArchiveName);
    err::export_log(1, kArchiveName);
    const std::string bytes = errbench::read_file(archive);
    std::vector<double> times, floors;
    bool ok = true;
    for (auto _ : state) {
        if (op == LogOp::ExportNew) std::remove(archive.c_str());
        auto t0 = Clock::now();
        ok = op == LogOp::Validate ? err::open_log_file(1) : err::export_log(1, kArchiveName);
        const double seconds = ArchiveTimes::seconds_since(t0);
        state.SetIterationTime(seconds);
        times.push_back(seconds);

        if (op == LogOp::ExportNew) std::remove(floor_file.c_str());
        t0 = Clock::now();
        ok = ok && errbench::read_file_once(g_full_log) == err::LOG_FILE_SIZE;
        if (op != LogOp::Validate)
            ok = ok && errbench::write_file_once(floor_file, bytes) == bytes.size();
        floors.push_back(ArchiveTimes::seconds_since(t0));
        if (!ok) break;
    }
    if (!ok) state.SkipWithError("log operation failed");
    state.counters["median_ns"] = ArchiveTimes::median(times) * 1e9;
    state.counters["floor_median_ns"] = ArchiveTimes::median(floors) * 1e9;
    state.counters["archive_bytes"] = static_cast<double>(bytes.size());
}

}  // namespace

namespace {

// Two threads pass one counter back and forth; the time of one round trip is the least any
// hand-over of a message between two running threads costs here (the word moves between the
// cores' caches twice).
void line_round_trip(benchmark::State& state) {
    constexpr std::uint32_t kTrips = 20000;
    std::atomic<std::uint32_t> word{0};
    std::atomic<bool> done{false};
    std::thread partner([&] {
        std::uint32_t seen = 0;
        while (!done.load(std::memory_order_relaxed)) {
            const std::uint32_t v = word.load(std::memory_order_acquire);
            if (v != seen && v % 2 == 1) {
                word.store(v + 1, std::memory_order_release);
                seen = v + 1;
            }
        }
    });
    std::uint32_t v = 0;
    for (auto _ : state) {
        for (std::uint32_t k = 0; k < kTrips; ++k) {
            word.store(++v, std::memory_order_release);
            while (word.load(std::memory_order_acquire) != v + 1) {
            }
            ++v;
        }
    }
    done.store(true);
    partner.join();
    // A rate inverted is seconds per trip; counting trips in billions makes it nanoseconds.
    const double trips = static_cast<double>(state.iterations()) * kTrips;
    state.counters["ns_per_trip"] =
        benchmark::Counter(trips / 1e9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

int main(int argc, char** argv) {
    using benchmark::RegisterBenchmark;

    // Every caller benchmark times its calls itself, for at least kCallerMinTime of calls.
    const auto register_caller = [](const char* name, auto body, auto setup) {
        return RegisterBenchmark(name, body)
            ->Setup(setup)
            ->Teardown(teardown)
            ->UseManualTime()
            ->MinTime(kCallerMinTime);
    };
    for (auto [name, side] : {std::pair{"caller/EReportError", CallerSide::Report},
                              std::pair{"caller/floor_send", CallerSide::FloorSend}}) {
        register_caller(
            name, [side = side](benchmark::State& s) { caller(s, side); }, setup_drain)
            ->Arg(0)
            ->Threads(1)
            ->Threads(2)
            ->Threads(4)
            ->Threads(8);
    }
    for (auto [name, side] : {std::pair{"caller_paced/EReportError", CallerSide::Report},
                              std::pair{"caller_paced/floor_send", CallerSide::FloorSend}}) {
        register_caller(
            name, [side = side](benchmark::State& s) { caller_paced(s, side); }, setup_drain);
    }
    register_caller(
        "caller/executive_calls",
        [](benchmark::State& s) { caller(s, CallerSide::ExecutiveCalls); }, setup_drain)
        ->Arg(0)
        ->Threads(1);
    // The same calls with nobody else running: the caller empties the mailbox between its
    // batches (not timed), so that only the cost of the calls themselves is measured.
    for (auto [name, side] :
         {std::pair{"caller_alone/EReportError", CallerSide::Report},
          std::pair{"caller_alone/floor_send", CallerSide::FloorSend},
          std::pair{"caller_alone/executive_calls", CallerSide::ExecutiveCalls}}) {
        register_caller(
            name, [side = side](benchmark::State& s) { caller(s, side); }, setup_caller_drains)
            ->Arg(1);
    }
    register_caller(
        "peer/spdlog_flush_each", [](benchmark::State& s) { caller(s, CallerSide::Peer); },
        setup_peer)
        ->Arg(0)
        ->Threads(1)
        ->Threads(2);

    RegisterBenchmark("archive/task_full_ring", archive_full_ring)
        ->Setup(setup_task_full)
        ->Teardown(teardown)
        ->UseManualTime();
    RegisterBenchmark("archive/task_free_records", archive_free_records)
        ->Setup(setup_task_free)
        ->Teardown(teardown)
        ->UseManualTime();

    for (auto [name, op] : {std::pair{"logops/validate_full_log", LogOp::Validate},
                            std::pair{"logops/export_new_archive", LogOp::ExportNew},
                            std::pair{"logops/export_full_log", LogOp::ExportOver}}) {
        RegisterBenchmark(name, [op = op](benchmark::State& s) { logops(s, op); })
            ->Setup(setup_full_log)
            ->Teardown(teardown)
            ->UseManualTime();
    }

    RegisterBenchmark("machine/line_round_trip", line_round_trip)->UseRealTime();

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
