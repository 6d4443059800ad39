#include "salvage_trust.h"

#include "log_format.h"
#include "log_view.h"

namespace errlog {

using namespace err::logfmt;
using err::LOG_RECORD_SIZE;

namespace {

// One walk from n along previous (backwards) or next links, marking the records in state V it
// meets until stop (inclusive) or a link of 0 or a record not in state V. False when the walk
// meets a record twice, a link above 25 or a record beyond the bytes.
bool walk(const std::vector<std::uint8_t>& bytes, std::uint16_t n, bool backwards,
          std::uint16_t stop, std::uint16_t skip, std::bitset<26>& marks) {
    std::bitset<26> met;
    while (n != 0) {
        if (!is_record_number(n) || met[n]) return false;
        const std::size_t off = record_offset(n);
        if (off + LOG_RECORD_SIZE > bytes.size()) return false;
        const std::uint8_t* r = bytes.data() + off;
        if (r[kRecState] != kStateUsed) return true;
        met[n] = true;
        if (n != skip) marks[n] = true;
        if (n == stop) return true;
        n = backwards ? previous_of(r) : next_of(r);
    }
    return true;
}

}  // namespace

HeaderVouch header_vouch(const std::vector<std::uint8_t>& bytes) {
    HeaderVouch v;
    if (!holds_log_header(bytes.data(), bytes.size())) return v;
    const std::uint8_t* h = bytes.data();
    const std::uint16_t newest = header_link(h, kHdrErrorStart);
    const std::uint16_t oldest = header_link(h, kHdrErrorEnd);
    const bool full = header_link(h, kHdrEmpty) == 0;
    v.speaks = walk(bytes, newest, true, 0, 0, v.records) &&
               walk(bytes, oldest, false, newest, full ? oldest : 0, v.records);
    const std::uint16_t overflow = header_link(h, kHdrOverflow);
    if (is_record_number(overflow)) v.records[overflow] = true;
    return v;
}

}  // namespace errlog
