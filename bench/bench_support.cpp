#include "bench_support.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "err/err.h"
#include "host_system/held_module.h"
#include "log.h"
#include "log_format.h"
#include "rtx/rtx.h"
#include "rtx/rtx_host.h"

namespace errbench {

namespace {

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "err_bench: %s\n", what);
    std::exit(2);
}

constexpr std::uint16_t kGateError = 7099;

ErrTableEntry entry(std::uint16_t id, const char* text, const char* component) {
    ErrTableEntry e{};
    e.id = id;
    e.flags = EF_ARCHIVE;  // a user error, archived in the user log
    e.state = 0;
    e.action_a = ACT_NONE;
    e.action_b = ACT_NONE;
    e.text_a = text;
    e.text_b = text;
    e.component = component;
    return e;
}

ErrTableEntry g_table[] = {
    entry(7001, "Axis %s lost its reference", "MOTION"),
    entry(7002, "Pump pressure %s bar above limit %s bar", "FLUIDICS"),
    entry(7003, "Door opened during a run", "SAFETY"),
    entry(7004, "Temperature sensor %s out of range", "THERMAL"),
    // Not archived: in variant B its text goes to the status task, and the error task waits
    // for the acknowledgement (Executive::hold).
    [] {
        ErrTableEntry e = entry(kGateError, "Hold", "BENCH");
        e.flags = EF_IEC_TEXT;
        return e;
    }(),
    [] {
        ErrTableEntry e{};
        e.id = ERR_TABLE_END;
        return e;
    }(),
};

const std::array<StreamEntry, 4> kStream = {{
    {7001, "C:\\FW\\MOTION\\axis_control.cpp", 412, "X"},
    {7002, "..\\fluidics\\pump.cpp", 88, "3.2$2.5"},
    {7003, "door.c", 1290, ""},
    {7004, "/src/thermal/sensor.cpp", 57, "T4"},
}};

constexpr std::chrono::seconds kReplyWait{60};  // a hung task ends the run, not a timing limit

void free_segment(std::uint16_t segment) {
    rtx_status status{};
    rtx_global_free(segment, &status);
}

void drain(std::uint16_t mailbox) {
    for (;;) {
        std::uint16_t segment = 0;
        rtx_status status{};
        _rtx_getmessage(&segment, mailbox, RTX_WAIT_FOREVER, 0, &status);
        if (status.status != RTX_OK) return;  // the executive is shutting down
        free_segment(segment);
    }
}

}  // namespace

const StreamEntry& stream_entry(std::size_t i) {
    return kStream[i % kStream.size()];
}

int report(std::size_t i) {
    const StreamEntry& e = stream_entry(i);
    return EReportError(e.file, e.line, e.number, e.text);
}

namespace {

// The bytes EReportError sends for each report of the stream (directory parts cut).
std::array<host_system::Bytes, 4> prepare_reports() {
    std::array<host_system::Bytes, 4> all;
    for (std::size_t k = 0; k < all.size(); ++k) {
        const StreamEntry& e = kStream[k];
        all[k] = host_system::report_message(e.file, e.line, e.number, e.text);
    }
    return all;
}

const std::array<host_system::Bytes, 4> kPrepared = prepare_reports();

}  // namespace

int report_by_executive_calls(std::size_t i) {
    static const char kErrorMbx[] = CATALOG_ERROR_MBX;
    const char* file = stream_entry(i).file;
    EVcut_path(&file);  // a call into the executive; its result is in the prepared report
    rtx_status status{};
    std::uint16_t mailbox = 0;
    rtx_searchcatalog(&mailbox, kErrorMbx, 0, &status);
    if (status.status != RTX_OK) return status.status;
    std::uint16_t segment = 0;
    old_rtx_global_alloc(&segment, REPORT_SEGMENT_SIZE, 0, 0, &status, "err_bench", __LINE__);
    if (status.status != RTX_OK) return status.status;
    std::memcpy(buildptr(segment, 0), kPrepared[i % kPrepared.size()].data(), REPORT_SEGMENT_SIZE);
    const int result = _rtx_sendmessage(mailbox, segment, 0, &status);
    if (status.status != RTX_OK) free_segment(segment);
    return result;
}

// ---- Executive ----------------------------------------------------------------------------

Executive::Executive(Receiver receiver)
    // Under TMPDIR (default /tmp): the logs live on that folder's file system.
    : root_(host_system::Root::temporary("err_bench")),
      // Room for every report in flight; the producers keep a window far below it, and a
      // dropped report is counted and fails the run.
      world_(root_, {.restart_module = host_system::restart_held_module, .segment_limit = 60000}) {
    if (!world_.ready()) die("cannot create the mailboxes");
    E_RemoveErrorTable(kModule);
    E_RegisterErrorTable(kModule, g_table);

    if (receiver == Receiver::ErrorTask) {
        world_.start();
        sync();
    } else if (receiver == Receiver::Drain) {
        drainers_.emplace_back([mbx = world_.error_mbx()] { drain(mbx); });
    }
}

Executive::~Executive() {
    world_.shutdown();
    for (std::thread& t : drainers_) t.join();
}

void Executive::sync() {
    if (!world_.sync(kReplyWait).ok()) die("the error task did not answer");
}

void Executive::command(std::uint16_t code) {
    const host_system::Bytes message = host_system::message(0x0B0B, {host_system::block(code)});
    if (!world_.send(message, "err_bench", __LINE__)) die("cannot send a message");
}

void Executive::send_sync() {
    sync_tag_ = world_.next_tag();
    host_system::Header header;
    header.sender = sync_tag_;
    header.replied_tag = sync_tag_;
    if (!world_.send_asking(host_system::message(header, {}), "err_bench", __LINE__))
        die("cannot send a message");
}

void Executive::wait_sync() {
    watch_until([this] { return rtx_host_mailbox_depth(world_.reply_mbx()) != 0; }, kReplyWait);
    if (!world_.await(sync_tag_, kReplyWait).ok()) die("the error task did not answer");
}

namespace {

// IECSTATE_MBX: the second of the partner mailboxes (nobody reads them here).
std::uint16_t iecstate_mbx(const host_system::World& world) {
    const std::vector<std::uint16_t>& partners = world.partner_mailboxes();
    if (partners.size() < 2) die("no IECSTATE_MBX");
    return partners[1];
}

}  // namespace

void Executive::hold() {
    command(CMD_VARIANT_B);  // status texts are sent in variant B only ...
    if (EReportError("bench", 1, kGateError, "") != 0) die("cannot send the holding report");
    command(CMD_VARIANT_A);  // ... and the reports after it are handled in variant A
    while (rtx_host_mailbox_depth(iecstate_mbx(world_)) == 0)
        std::this_thread::sleep_for(std::chrono::microseconds(20));
}

void Executive::wait_held_asleep() const {
    const auto until = std::chrono::steady_clock::now() + kReplyWait;
    while (rtx_host_mailbox_waiters(world_.error_qmbx()) == 0) {
        if (std::chrono::steady_clock::now() >= until) die("the held error task never slept");
        std::this_thread::sleep_for(std::chrono::microseconds(10));
    }
    std::this_thread::sleep_for(kAsleepFor);
}

void Executive::release() {
    // The status text itself goes back as the acknowledgement (the task frees it unread).
    std::uint16_t segment = 0;
    rtx_status status{};
    _rtx_getmessage(&segment, iecstate_mbx(world_), 0, 0, &status);
    if (status.status != RTX_OK) die("no status text to acknowledge");
    _rtx_sendmessage(world_.error_qmbx(), segment, 0, &status);
    if (status.status != RTX_OK) die("cannot acknowledge the status text");
}

void Executive::wait_below(std::uint32_t depth) const {
    while (rtx_host_mailbox_depth(world_.error_mbx()) >= depth)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

void Executive::take_all() const {
    for (;;) {
        std::uint16_t segment = 0;
        rtx_status status{};
        _rtx_getmessage(&segment, world_.error_mbx(), 0, 0, &status);  // 0: do not wait
        if (status.status != RTX_OK) return;
        free_segment(segment);
    }
}

std::uint64_t Executive::dropped() const {
    rtx_host_counters counters{};
    rtx_host_get_counters(&counters);
    return counters.failed[RTX_OP_ALLOC] + counters.failed[RTX_OP_SEND];
}

// ---- Floors -------------------------------------------------------------------------------

namespace {

using err::LOG_HEADER_SIZE;
using err::LOG_RECORD_COUNT;
using err::LOG_RECORD_SIZE;

off_t record_at(std::size_t n) {
    return static_cast<off_t>(LOG_HEADER_SIZE + (n - 1) * LOG_RECORD_SIZE);
}

// Record number k of the ring (1 to 25).
std::size_t ring(std::size_t k) {
    return k % LOG_RECORD_COUNT + 1;
}

void set_digits(std::uint8_t* field, std::size_t width, std::size_t value) {
    for (std::size_t i = width; i-- > 0; value /= 10)
        field[i] = static_cast<std::uint8_t>('0' + value % 10);
}

// The fields of a new record, filled as cheaply as possible (the floor is the system calls).
void fill_record(std::uint8_t* record, std::size_t i, std::size_t previous) {
    using namespace err::logfmt;
    const StreamEntry& e = stream_entry(i);
    set_digits(record + kRecCode, kCodeWidth, e.number);
    set_digits(record + kRecPrevious, kRecordNumberWidth, previous);
    set_digits(record + kRecNext, kRecordNumberWidth, 0);
    record[kRecState] = 'V';
    const std::size_t n = std::strlen(e.text);
    std::memset(record + kRecText, ' ', kTextWidth);
    std::memcpy(record + kRecText, e.text, n < kTextWidth ? n : kTextWidth);
}

bool pread_all(int fd, std::uint8_t* buffer, std::size_t size, off_t at) {
    return pread(fd, buffer, size, at) == static_cast<ssize_t>(size);
}

bool pwrite_all(int fd, const std::uint8_t* buffer, std::size_t size, off_t at) {
    return pwrite(fd, buffer, size, at) == static_cast<ssize_t>(size);
}

}  // namespace

FloorLog::FloorLog(const std::string& source_path, const std::string& path) : path_(path) {
    std::error_code ec;
    std::filesystem::copy_file(source_path, path, std::filesystem::copy_options::overwrite_existing,
                               ec);
    if (ec) die("cannot copy the log file for the floor");
}

namespace {

// The steps both floors end with, on the open log fd: read and rewrite the previous newest
// record so that it points to slot, write the i-th record into slot, read and rewrite the
// header, which names slot as the newest and, when oldest is not null, *oldest as the oldest.
// record holds what was read from slot. Closes fd.
bool link_write_and_close(int fd, std::size_t i, std::size_t slot, std::size_t newest,
                          std::uint8_t* record, const std::size_t* oldest) {
    using namespace err::logfmt;
    std::uint8_t previous[LOG_RECORD_SIZE];
    std::uint8_t header[LOG_HEADER_SIZE];
    bool ok = pread_all(fd, previous, sizeof previous, record_at(newest));
    if (ok) {
        set_digits(previous + kRecNext, kRecordNumberWidth, slot);
        ok = pwrite_all(fd, previous, sizeof previous, record_at(newest));
    }
    if (ok) {
        fill_record(record, i, newest);
        ok = pwrite_all(fd, record, LOG_RECORD_SIZE, record_at(slot));
    }
    if (ok) ok = pread_all(fd, header, sizeof header, 0);
    if (ok) {
        set_digits(header + kHdrErrorStart, kRecordNumberWidth, slot);
        if (oldest) set_digits(header + kHdrErrorEnd, kRecordNumberWidth, *oldest);
        ok = pwrite_all(fd, header, sizeof header, 0);
    }
    return close(fd) == 0 && ok;
}

}  // namespace

bool FloorLog::archive_free(std::size_t i) {
    using namespace err::logfmt;
    const std::size_t free_nr = ring(i);
    std::uint8_t record[LOG_RECORD_SIZE];
    const int fd = open(path_.c_str(), O_RDWR);
    if (fd < 0) return false;
    if (!pread_all(fd, record, sizeof record, record_at(free_nr))) {
        close(fd);
        return false;
    }
    return link_write_and_close(fd, i, free_nr, ring(i + LOG_RECORD_COUNT - 1), record, nullptr);
}

bool FloorLog::archive_ring(std::size_t i) {
    using namespace err::logfmt;
    const std::size_t oldest = ring(i);
    const std::size_t next_oldest = ring(i + 1);
    std::uint8_t record[LOG_RECORD_SIZE];
    std::uint8_t local[LOG_RECORD_SIZE];
    const int fd = open(path_.c_str(), O_RDWR);
    if (fd < 0) return false;
    bool ok = pread_all(fd, record, sizeof record, record_at(oldest)) &&
              pread_all(fd, local, sizeof local, record_at(next_oldest));
    if (ok) {
        set_digits(local + kRecPrevious, kRecordNumberWidth, 0);
        ok = pwrite_all(fd, local, sizeof local, record_at(next_oldest));
    }
    if (!ok) {
        close(fd);
        return false;
    }
    return link_write_and_close(fd, i, oldest, ring(i + LOG_RECORD_COUNT - 1), record,
                                &next_oldest);
}

// ---- Peer ---------------------------------------------------------------------------------

std::shared_ptr<spdlog::logger> make_peer_logger(const std::string& path) {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(path, true);
    auto logger = std::make_shared<spdlog::logger>("peer", std::move(sink));
    logger->set_level(spdlog::level::trace);
    logger->flush_on(
        spdlog::level::trace);  // every message reaches the file before the call returns
    return logger;
}

void peer_report(spdlog::logger& logger, std::size_t i) {
    const StreamEntry& e = stream_entry(i);
    logger.error("{:05d} {}:{} {}", e.number, e.file, e.line, e.text);
}

// ---- Full log -----------------------------------------------------------------------------

std::string make_full_user_log(const Executive& executive) {
    if (!err::init_log_file(1)) die("cannot set the user log up");
    for (std::size_t i = 0; i < 30; ++i) {
        const StreamEntry& e = stream_entry(i);
        if (!err::archive_error(1, e.number, e.text, "BENCH", e.file, e.line))
            die("cannot archive into the user log");
    }
    return executive.host_path("LOG/USERERR.LOG");
}

std::size_t read_file_once(const std::string& path) {
    std::uint8_t buffer[err::LOG_FILE_SIZE + 1];
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return 0;
    std::size_t total = 0;
    for (;;) {
        const ssize_t n = read(fd, buffer + total, sizeof buffer - total);
        if (n <= 0) break;
        total += static_cast<std::size_t>(n);
        if (total == sizeof buffer) break;
    }
    close(fd);
    return total;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::size_t write_file_once(const std::string& path, const std::string& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) return 0;
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    close(fd);
    return n < 0 ? 0 : static_cast<std::size_t>(n);
}

// ---- Placement ----------------------------------------------------------------------------

namespace {

#if defined(__linux__)
// The processors allowed when first asked, and the two taken from them (-1: fewer than two).
struct Processors {
    cpu_set_t allowed;
    int measured = -1;
    int producer = -1;
    Processors() {
        CPU_ZERO(&allowed);
        if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
        for (int cpu = 0; cpu < CPU_SETSIZE && producer < 0; ++cpu) {
            if (!CPU_ISSET(cpu, &allowed)) continue;
            if (measured < 0)
                measured = cpu;
            else
                producer = cpu;
        }
    }
};
const Processors& processors() {
    static const Processors p;
    return p;
}
void place_on(int cpu) {
    const Processors& p = processors();
    if (p.producer < 0) return;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    pthread_setaffinity_np(pthread_self(), sizeof one, &one);
}
#endif

}  // namespace

void place_on_measured_processor() {
#if defined(__linux__)
    place_on(processors().measured);
#endif
}

void place_on_producer_processor() {
#if defined(__linux__)
    place_on(processors().producer);
#endif
}

void place_anywhere() {
#if defined(__linux__)
    const Processors& p = processors();
    if (p.producer >= 0) pthread_setaffinity_np(pthread_self(), sizeof p.allowed, &p.allowed);
#endif
}

}  // namespace errbench
