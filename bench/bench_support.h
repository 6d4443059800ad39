// What the benchmarks share: a fresh host executive in a temporary root (with the error task
// running, or with a plain thread that drains ERROR_MBX), a table of user errors, the stream of
// reports that every side writes, the POSIX floors of one archive, and the peer logger.
#pragma once

#include <cstddef>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host_system/world.h"

namespace spdlog {
class logger;
}

namespace errbench {

// ---- The errors -------------------------------------------------------------------------

// Module number of the benchmark's table: user errors with EF_ARCHIVE and no actions.
constexpr std::uint16_t kModule = 7;
// How long a thread whose batch is timed has slept when the batch begins: long enough that it
// has entered its sleep, whichever way it waits.
constexpr std::chrono::microseconds kAsleepFor{50};

// Watches, without sleeping, until done() holds, a pause instruction between two looks; false
// when limit passed first. The timed waits of the archive benchmarks end this way on both sides.
template <class Done>
bool watch_until(Done done, std::chrono::steady_clock::duration limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (std::uint32_t k = 1; !done(); ++k) {
        if (k % 1024 == 0 && std::chrono::steady_clock::now() >= until) return false;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    return true;
}

// One report of the stream: what a caller hands to EReportError (and to the peer logger).
struct StreamEntry {
    std::uint16_t number;
    const char* file;
    std::int32_t line;
    const char* text;
};

// The i-th report of the stream (the stream cycles through a few realistic reports).
const StreamEntry& stream_entry(std::size_t i);

// Sends the i-th report with EReportError; returns its result (0 when queued).
int report(std::size_t i);

// The executive calls that every report makes, without the module: cuts the directory part
// of the file name, looks up ERROR_MBX, allocates a 232-byte segment, takes its address,
// copies in the i-th report prepared beforehand and sends it. Returns 0 when queued.
int report_by_executive_calls(std::size_t i);

// ---- A host executive -------------------------------------------------------------------

enum class Receiver {
    ErrorTask,  // the real error task, started through init_function, archiving into LOG/
    Drain,      // no task: a thread takes every message from ERROR_MBX and frees it
    Caller,     // no task and no thread: the caller empties ERROR_MBX itself (take_all)
};

// A host system (host_system/world.h): a fresh executive (restarted if an earlier one ran in
// this process) in a new temporary root with LOG/ and a TARNBOOT.INI that names both logs; the
// console echo is off. The mailboxes the task looks up exist, nobody reads the partner tasks'
// ones, and there is a private reply mailbox. The benchmark table is registered. With
// Receiver::ErrorTask the system is started and the constructor returns once the task serves its
// mailbox. The destructor shuts the executive down and removes the root.
class Executive {
  public:
    explicit Executive(Receiver receiver);
    ~Executive();
    Executive(const Executive&) = delete;
    Executive& operator=(const Executive&) = delete;

    // Error task only: an empty message with reply_mode 2; returns when its default response
    // is back, so everything sent before it has been handled.
    void sync();
    // Error task only: a command without data and without an answer (e.g. 614, erase all
    // user errors).
    void command(std::uint16_t code);
    // Error task only: holds the task until release(). The task handles a report whose status
    // text waits for an acknowledgement on ERROR_QMBX; hold returns once that text has been
    // sent, so that whatever is sent to ERROR_MBX from then on waits, untouched, in its queue.
    void hold();
    // Returns kAsleepFor after the held task began to sleep (it watches its mailbox a while
    // before it does), so that every release wakes it alike, after a batch of any length.
    void wait_held_asleep() const;
    // Acknowledges the status text: the task goes on with what waits on ERROR_MBX.
    void release();
    // sync() in two halves: the message, and the wait for its default response. The wait
    // watches the reply mailbox without falling asleep: a batch timed up to the response then
    // ends alike whether it held many reports or none (a waiter that sleeps is woken by the
    // response after a long batch, and not after a short one, and its wake-up would be counted
    // as the task's work on the batch).
    void send_sync();
    void wait_sync();
    // Waits until ERROR_MBX holds fewer than depth messages (the producer's window, so that
    // the mailbox and the segment pool never grow with the length of a run).
    void wait_below(std::uint32_t depth) const;

    std::uint16_t error_mbx() const { return world_.error_mbx(); }
    // Receiver::Caller: takes every message waiting on ERROR_MBX and frees it.
    void take_all() const;
    // Reports lost so far: failed allocations and sends (must stay 0 in a valid run).
    std::uint64_t dropped() const;
    const std::string& root() const { return root_.path(); }
    std::string host_path(const std::string& relative) const { return root_.host_path(relative); }

  private:
    host_system::Root root_;
    host_system::World world_;
    std::vector<std::thread> drainers_;
    std::uint16_t sync_tag_ = 0;  // the message of send_sync
};

// ---- The floor: one archive by hand with POSIX calls ------------------------------------

// A log file of the same kind as the task's (15848 bytes, one header and 25 records), on which
// the floors run: each call is one archive of a user error with the fewest system calls.
class FloorLog {
  public:
    // Copies the valid log file at source_path to path.
    FloorLog(const std::string& source_path, const std::string& path);

    // A log with a free record: open, read the free record, read and rewrite the previous
    // newest, write the new record, read and rewrite the header, close (8 system calls).
    bool archive_free(std::size_t i);
    // A full log whose ring wraps (the overflow record exists): open, read the oldest, read
    // and rewrite the next oldest (it becomes the oldest), read and rewrite the previous
    // newest, write the new record over the oldest, read and rewrite the header, close
    // (10 system calls).
    bool archive_ring(std::size_t i);

  private:
    std::string path_;
};

// ---- The peer -----------------------------------------------------------------------------

// A synchronous spdlog logger with one file sink that flushes after every message.
std::shared_ptr<spdlog::logger> make_peer_logger(const std::string& path);
// Writes the i-th report of the stream (number, file, line, text) through the peer.
void peer_report(spdlog::logger& logger, std::size_t i);

// ---- A full log for validation and export ------------------------------------------------

// In an executive without the error task: sets the user log up (init_log_file) and archives
// 30 errors, so that it is full and holds the overflow record. Returns its host path.
std::string make_full_user_log(const Executive& executive);

// Reads the whole file once with POSIX open, read and close; returns the bytes read.
std::size_t read_file_once(const std::string& path);
// The bytes of a file (empty when it cannot be read).
std::string read_file(const std::string& path);
// Writes bytes as the whole file with POSIX open (creating it, or emptying the file there), one
// write and close; returns the bytes written.
std::size_t write_file_once(const std::string& path, const std::string& bytes);

// ---- Placement ----------------------------------------------------------------------------

// Where the archive benchmarks run (Linux; elsewhere, or with fewer than two processors
// allowed, these do nothing): the two measured sides, the task's thread and the floor's, on
// one processor, the producer (the benchmark's thread) on another. Both sides then share one
// processor in every run, whichever the scheduler would have chosen.
// The calling thread, and every thread it starts from now on, on the measured sides' processor.
void place_on_measured_processor();
// The calling thread on the producer's processor.
void place_on_producer_processor();
// The calling thread back on every processor allowed at start.
void place_anywhere();

}  // namespace errbench
