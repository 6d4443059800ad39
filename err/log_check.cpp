// Validation of an error log file (rules in log_check.h).
#include "log_check.h"

#include <cstdio>
#include <cstring>

namespace err {

using namespace logfmt;

LogCheckResult check_log_header(const std::uint8_t* header, std::size_t header_bytes,
                                std::int64_t file_length) {
    LogCheckResult r;
    r.header_bytes = header_bytes;
    r.file_length = file_length;
    if (!header || header_bytes < LOG_HEADER_SIZE) {
        r.fault = LogFault::header_short;
        return r;
    }
    r.length_field = read_number(header + kHdrLength, kLengthWidth);
    if (file_length < 0 || static_cast<std::uint64_t>(file_length) != r.length_field)
        r.fault = LogFault::length_mismatch;
    else if (r.length_field != LOG_FILE_SIZE)
        r.fault = LogFault::length_not_standard;
    return r;
}

bool walk_log_chain(std::uint16_t n, std::size_t link_offset, LogWalk walk, RecordMarks& marks,
                    LogRecordReader read, void* context, LogCheckResult& out) {
    // Ends by itself: each step marks a new record, so at most 25 steps pass before a link
    // is 0, above 25 or a marked record.
    while (is_record_number(n)) {
        if (marks[n] != 0) {
            out.fault = LogFault::record_met_twice;
            out.walk = walk;
            out.first_marked_by = static_cast<LogWalk>(marks[n]);
            out.record = n;
            return true;
        }
        const std::uint8_t* record = read(context, n);
        if (!record) {
            out.fault = LogFault::record_unreadable;
            out.walk = walk;
            out.record = n;
            return true;
        }
        marks[n] = static_cast<std::uint8_t>(walk);
        n = static_cast<std::uint16_t>(read_number(record + link_offset, kRecordNumberWidth));
    }
    return false;
}

bool any_record_unmarked(const RecordMarks& marks, std::uint16_t* first) {
    for (std::uint16_t n = 1; n <= LOG_RECORD_COUNT; ++n) {
        if (marks[n] == 0) {
            if (first) *first = n;
            return true;
        }
    }
    return false;
}

LogCheckResult check_log_chains(const std::uint8_t* header, LogRecordReader read, void* context) {
    LogCheckResult r;
    r.header_bytes = LOG_HEADER_SIZE;
    r.length_field = read_number(header + kHdrLength, kLengthWidth);
    r.file_length = r.length_field;

    const std::uint16_t overflow = header_link(header, kHdrOverflow);
    const std::uint16_t empty = header_link(header, kHdrEmpty);
    const std::uint16_t start = header_link(header, kHdrErrorStart);
    const std::uint16_t end = header_link(header, kHdrErrorEnd);

    if (overflow > LOG_RECORD_COUNT) {
        r.fault = LogFault::overflow_out_of_range;
        r.record = overflow;
        return r;
    }

    RecordMarks marks;
    for (std::uint8_t check = 1; check <= 2; ++check) {
        std::memset(marks, 0, sizeof marks);
        if (overflow != 0) marks[overflow] = static_cast<std::uint8_t>(LogWalk::overflow);
        bool corrupt =
            walk_log_chain(empty, kRecPrevious, LogWalk::free_chain, marks, read, context, r);
        if (!corrupt) {
            corrupt = check == 1 ? walk_log_chain(start, kRecPrevious, LogWalk::error_chain_back,
                                                  marks, read, context, r)
                                 : walk_log_chain(end, kRecNext, LogWalk::error_chain_forward,
                                                  marks, read, context, r);
        }
        std::uint16_t unmarked = 0;
        if (!corrupt && any_record_unmarked(marks, &unmarked)) {
            r.fault = LogFault::record_unaccounted;
            r.record = unmarked;
            corrupt = true;
        }
        if (corrupt) {
            r.check = check;
            return r;
        }
    }
    return r;
}

namespace {

struct ImageSource {
    const std::uint8_t* image;
    std::size_t size;
};

const std::uint8_t* read_from_image(void* context, std::uint16_t n) {
    const ImageSource* src = static_cast<const ImageSource*>(context);
    if (!is_record_number(n)) return nullptr;
    std::size_t at = record_offset(n);
    if (at > src->size || src->size - at < LOG_RECORD_SIZE) return nullptr;
    return src->image + at;
}

}  // namespace

LogCheckResult check_log_image(const std::uint8_t* image, std::size_t size) {
    std::size_t header_bytes = size < LOG_HEADER_SIZE ? size : LOG_HEADER_SIZE;
    LogCheckResult r = check_log_header(image, header_bytes, static_cast<std::int64_t>(size));
    if (!r.ok()) return r;
    ImageSource src{image, size};
    LogCheckResult chains = check_log_chains(image, read_from_image, &src);
    chains.file_length = static_cast<std::int64_t>(size);
    return chains;
}

const char* log_fault_name(LogFault fault) {
    switch (fault) {
        case LogFault::none:
            return "none";
        case LogFault::header_short:
            return "header_short";
        case LogFault::length_mismatch:
            return "length_mismatch";
        case LogFault::length_not_standard:
            return "length_not_standard";
        case LogFault::overflow_out_of_range:
            return "overflow_out_of_range";
        case LogFault::record_met_twice:
            return "record_met_twice";
        case LogFault::record_unreadable:
            return "record_unreadable";
        case LogFault::record_unaccounted:
            return "record_unaccounted";
    }
    return "unknown";
}

const char* log_walk_name(LogWalk walk) {
    switch (walk) {
        case LogWalk::none:
            return "no walk";
        case LogWalk::free_chain:
            return "free chain";
        case LogWalk::error_chain_back:
            return "error chain walked back from the newest error";
        case LogWalk::error_chain_forward:
            return "error chain walked forward from the oldest error";
        case LogWalk::overflow:
            return "overflow record";
    }
    return "unknown walk";
}

std::size_t describe_log_check(const LogCheckResult& r, char* out, std::size_t size) {
    if (!out || size == 0) return 0;
    int n = 0;
    const unsigned rec = r.record;
    const int check = r.check;
    switch (r.fault) {
        case LogFault::none:
            n = std::snprintf(out, size, "valid");
            break;
        case LogFault::header_short:
            n = std::snprintf(out, size,
                              "too short: only %zu of the header record's %zu bytes can be read",
                              r.header_bytes, LOG_HEADER_SIZE);
            break;
        case LogFault::length_mismatch:
            if (r.file_length < 0)
                n = std::snprintf(out, size,
                                  "length field mismatch: the header says %05u bytes, the file's "
                                  "length cannot be taken",
                                  static_cast<unsigned>(r.length_field));
            else
                n = std::snprintf(out, size,
                                  "length field mismatch: the header says %05u bytes, the file "
                                  "has %lld",
                                  static_cast<unsigned>(r.length_field),
                                  static_cast<long long>(r.file_length));
            break;
        case LogFault::length_not_standard:
            n = std::snprintf(out, size, "wrong length: %lld bytes (a log file has %zu)",
                              static_cast<long long>(r.file_length), LOG_FILE_SIZE);
            break;
        case LogFault::overflow_out_of_range:
            n = std::snprintf(out, size, "bad overflow record number %03u (must be 0 to 25)", rec);
            break;
        case LogFault::record_met_twice:
            if (r.first_marked_by == r.walk)
                n = std::snprintf(out, size,
                                  "record %u met twice in the %s: the chain loops (check %d)", rec,
                                  log_walk_name(r.walk), check);
            else if (r.first_marked_by == LogWalk::overflow)
                n = std::snprintf(out, size, "the overflow record %u is on the %s (check %d)", rec,
                                  log_walk_name(r.walk), check);
            else
                n = std::snprintf(out, size,
                                  "record %u is on two chains: the %s and the %s (check %d)", rec,
                                  log_walk_name(r.first_marked_by), log_walk_name(r.walk), check);
            break;
        case LogFault::record_unreadable:
            n = std::snprintf(out, size, "record %u cannot be read in the %s (check %d)", rec,
                              log_walk_name(r.walk), check);
            break;
        case LogFault::record_unaccounted:
            n = std::snprintf(out, size,
                              "record %u is on no chain and is not the overflow record (check %d)",
                              rec, check);
            break;
    }
    if (n < 0) {
        out[0] = 0;
        return 0;
    }
    return static_cast<std::size_t>(n) < size ? static_cast<std::size_t>(n) : size - 1;
}

}  // namespace err
