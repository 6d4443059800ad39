// Validation of an error log file: the test that start-up applies before it uses a log, in a
// form that also names the rule a file breaks (the errlog tool prints it).
//
// A file is valid when
//   1. it is at least 373 bytes long, so that the header record can be read whole;
//   2. its length field equals its real length, and both equal 15848;
//   3. overflow_record is 0 or 1 to 25;
//   4. walking the free chain (from empty_record through previous_record) and the error chain
//      backwards (from error_start_record through previous_record) never meets a record twice,
//      never meets the overflow record, never meets a record that cannot be read, and every
//      record 1 to 25 is met by one of the walks or is the overflow record;
//   5. the same holds for the free chain together with the error chain walked forwards (from
//      error_end_record through next_record).
// A walk ends at a link of 0 or above 25. Labels, borders, CR LF positions, record_nr,
// record_state, new_records and the value fields are not looked at.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log_format.h"

namespace err {

enum class LogFault : std::uint8_t {
    none,
    header_short,           // fewer than 373 bytes: the header record cannot be read whole
    length_mismatch,        // length field differs from the real length of the file
    length_not_standard,    // length field and real length agree but are not 15848
    overflow_out_of_range,  // overflow_record above 25
    record_met_twice,       // a walk met a record already marked (loop, shared, overflow)
    record_unreadable,      // a walk could not read a record
    record_unaccounted,     // a record on no chain that is not the overflow record
};

// Who marks a record: one of the walks, or the overflow_record field.
enum class LogWalk : std::uint8_t {
    none = 0,
    free_chain = 1,           // from empty_record through previous_record
    error_chain_back = 2,     // from error_start_record through previous_record (first check)
    error_chain_forward = 3,  // from error_end_record through next_record (second check)
    overflow = 4,             // the record named by overflow_record
};

struct LogCheckResult {
    LogFault fault = LogFault::none;
    std::uint8_t check = 0;                   // 1 or 2 for chain faults (rules 4 and 5), else 0
    LogWalk walk = LogWalk::none;             // the walk that found the fault
    LogWalk first_marked_by = LogWalk::none;  // record_met_twice: who had marked it before
    std::uint16_t record = 0;                 // the record concerned (or the overflow value)
    std::uint32_t length_field = 0;           // the header's log_file_length
    std::int64_t file_length = -1;            // real length; -1 when it could not be taken
    std::size_t header_bytes = 0;             // bytes of the header record that could be read

    bool ok() const { return fault == LogFault::none; }
};

// Marks of records 1 to 25 (index 0 unused): 0 = unmarked, else the LogWalk that marked it.
constexpr std::size_t kRecordMarksSize = LOG_RECORD_COUNT + 1;
using RecordMarks = std::uint8_t[kRecordMarksSize];

// The LOG_RECORD_SIZE bytes of record n (1 to 25), valid until the next call; null when the
// record cannot be read.
using LogRecordReader = const std::uint8_t* (*)(void* context, std::uint16_t n);

// Rules 1 to 3, from the header bytes read (header_bytes of them at header) and the real
// length of the file (-1 when unknown, which never matches).
LogCheckResult check_log_header(const std::uint8_t* header, std::size_t header_bytes,
                                std::int64_t file_length);

// One chain walk from record n, following the 3-digit link at link_offset (kRecPrevious or
// kRecNext), marking each record met with walk. Returns true when it found the file corrupt
// (and fills out); false when the walk ended at a link of 0 or above 25. At most 26 steps: the
// 26th record met is always a repeat.
bool walk_log_chain(std::uint16_t n, std::size_t link_offset, LogWalk walk, RecordMarks& marks,
                    LogRecordReader read, void* context, LogCheckResult& out);

// True when some record 1 to 25 is unmarked; *first gets the first such record.
bool any_record_unmarked(const RecordMarks& marks, std::uint16_t* first = nullptr);

// Rules 3 to 5 for a header already found complete and of the right length. Records are read
// with read.
LogCheckResult check_log_chains(const std::uint8_t* header, LogRecordReader read, void* context);

// The whole test on a file's bytes in memory.
LogCheckResult check_log_image(const std::uint8_t* image, std::size_t size);

// Short name of a fault ("length_mismatch", ...).
const char* log_fault_name(LogFault fault);
// Name of a walk ("free chain", ...).
const char* log_walk_name(LogWalk walk);

// One-line English description of the result, without line end, e.g.
// "record 7 met twice: the free chain meets a record of the error chain (walked back from
// the newest error)". Returns the length written (cut to size - 1).
std::size_t describe_log_check(const LogCheckResult& result, char* out, std::size_t size);

}  // namespace err
