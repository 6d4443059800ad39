// Messages of the error task's protocol on the host executive: built and read with the named
// offsets of err/protocol.h, and moved as whole segments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "err/protocol.h"

namespace host_system {

using Bytes = std::vector<std::uint8_t>;

// ---- Little-endian words ----
// Writes value at offset, growing bytes as needed.
void put16(Bytes& bytes, std::size_t offset, std::uint16_t value);
// The word at offset; 0 past the end.
std::uint16_t get16(const Bytes& bytes, std::size_t offset);
Bytes words(std::initializer_list<std::uint16_t> values);
Bytes text_bytes(const std::string& text, bool with_zero);
Bytes concat(std::initializer_list<Bytes> parts);

// ---- Building messages ----
// The words of a message header that its sender chooses (block_count is counted).
struct Header {
    std::uint16_t sender = 0;
    std::uint16_t reply_mode = REPLY_MODE_NONE;
    std::uint16_t reply_mbx = 0;
    std::uint16_t replied_sender = 0;
    std::uint16_t replied_tag = 0;
};
// A command block: 8-byte head (block_length = 8 + data size) and data.
Bytes block(std::uint16_t command, const Bytes& data = {}, std::uint16_t tag1 = 0,
            std::uint16_t tag2 = 0);
// A message: the 12-byte header and the blocks; block_count is the number of blocks.
Bytes message(const Header& header, std::initializer_list<Bytes> blocks);
// The same with only a sender id and a replied_tag.
Bytes message(std::uint16_t sender, std::initializer_list<Bytes> blocks,
              std::uint16_t replied_tag = 0);
// The report that EReportError sends for these arguments, packed by the module's own code:
// 232 bytes, no answer wanted, the directory part of file cut by the executive.
Bytes report_message(const char* file, std::int32_t line, std::uint16_t error_nr, const char* info);
// The first block's command; 0 when the message has no block.
std::uint16_t first_command(const Bytes& message);

// ---- Segments ----
// Sends bytes as a new segment of exactly their size to mailbox; origin and line name the
// allocation. False when the executive refused (nothing is left allocated).
bool send(std::uint16_t mailbox, const Bytes& bytes, const char* origin = "host_system",
          int line = 0);
// The bytes of a segment (empty for an unknown one).
Bytes segment_bytes(std::uint16_t segment);
// Takes the oldest message of mailbox, waiting up to timeout milliseconds (RTX_WAIT_FOREVER:
// no limit), copies it into out and frees its segment. Returns the wait's status (RTX_OK when
// out holds a message).
std::uint16_t take(std::uint16_t mailbox, std::uint16_t timeout, Bytes& out);

}  // namespace host_system
