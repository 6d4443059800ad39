// What the header of a damaged log still vouches for, for salvage. An update writes its records
// first and the header last; when it is cut short, the record it was writing may hold the first
// part of one error and the rest of another, and only the header (as the last whole update left
// it) tells such a record from the errors the log held.
#pragma once

#include <bitset>
#include <cstdint>
#include <vector>

namespace errlog {

struct HeaderVouch {
    // False when the bytes hold no whole header with its borders and labels in place, or when
    // a walk of its chains meets a record twice or a link above 25: the header then says
    // nothing about the records.
    bool speaks = false;
    std::bitset<26> records;  // bit n: the header vouches for record n
};

// The records that the header of bytes vouches for: its overflow record, and the records in
// state V met walking the error chain back from the header's newest error (previous links) and
// forwards from its oldest (next links) up to the newest. Each walk ends at a link of 0 or at a
// record not in state V (a record that an erase cut short has freed). When the header has no
// free record left, the forward walk does not vouch for the oldest error itself: a new error
// was being written over it.
HeaderVouch header_vouch(const std::vector<std::uint8_t>& bytes);

}  // namespace errlog
