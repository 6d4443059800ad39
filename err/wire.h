// Bounds-checked little-endian access to wire bytes (message segments, log records).
//
// A ByteView/ByteSpan never reads or writes outside the bytes it was given: every accessor
// takes an offset, checks offset + width against the size, and reports failure instead of
// touching memory. Received bytes are never reinterpreted as structs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "err/protocol.h"

namespace err {

class ByteView {
  public:
    ByteView() = default;
    ByteView(const void* data, std::size_t size)
        : data_(static_cast<const std::uint8_t*>(data)), size_(data ? size : 0) {}

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

    bool has(std::size_t offset, std::size_t width) const {
        return offset <= size_ && width <= size_ - offset;
    }
    // The bytes [offset, offset + length), or an empty view when they do not all exist.
    ByteView sub(std::size_t offset, std::size_t length) const {
        return has(offset, length) ? ByteView(data_ + offset, length) : ByteView();
    }
    bool u16(std::size_t offset, std::uint16_t& out) const {
        if (!has(offset, 2)) return false;
        out = static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
        return true;
    }
    bool i32(std::size_t offset, std::int32_t& out) const {
        if (!has(offset, 4)) return false;
        std::uint32_t v = std::uint32_t(data_[offset]) | (std::uint32_t(data_[offset + 1]) << 8) |
                          (std::uint32_t(data_[offset + 2]) << 16) |
                          (std::uint32_t(data_[offset + 3]) << 24);
        out = static_cast<std::int32_t>(v);
        return true;
    }
    // u16 at offset, or fallback when it does not exist.
    std::uint16_t u16_or(std::size_t offset, std::uint16_t fallback) const {
        std::uint16_t v = fallback;
        return u16(offset, v) ? v : fallback;
    }
    // Length of the text at offset up to its NUL, at most max_length and never past the end.
    std::size_t text_length(std::size_t offset, std::size_t max_length) const {
        if (offset >= size_) return 0;
        std::size_t limit = size_ - offset < max_length ? size_ - offset : max_length;
        const void* nul = std::memchr(data_ + offset, 0, limit);
        return nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) -
                                              (data_ + offset))
                   : limit;
    }

  private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

class ByteSpan {
  public:
    ByteSpan() = default;
    ByteSpan(void* data, std::size_t size)
        : data_(static_cast<std::uint8_t*>(data)), size_(data ? size : 0) {}

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    ByteView view() const { return ByteView(data_, size_); }

    bool has(std::size_t offset, std::size_t width) const {
        return offset <= size_ && width <= size_ - offset;
    }
    bool put_u16(std::size_t offset, std::uint16_t v) const {
        if (!has(offset, 2)) return false;
        data_[offset] = static_cast<std::uint8_t>(v);
        data_[offset + 1] = static_cast<std::uint8_t>(v >> 8);
        return true;
    }
    bool put_i32(std::size_t offset, std::int32_t value) const {
        if (!has(offset, 4)) return false;
        std::uint32_t v = static_cast<std::uint32_t>(value);
        for (int i = 0; i < 4; ++i) data_[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
        return true;
    }
    bool put_bytes(std::size_t offset, const void* src, std::size_t n) const {
        if (!has(offset, n)) return false;
        if (n) std::memcpy(data_ + offset, src, n);
        return true;
    }
    bool fill(std::size_t offset, std::uint8_t value, std::size_t n) const {
        if (!has(offset, n)) return false;
        if (n) std::memset(data_ + offset, value, n);
        return true;
    }

  private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// The six words of a message header, in the order they stand in it.
struct MessageHeader {
    std::uint16_t sender_id;
    std::uint16_t reply_mode;
    std::uint16_t reply_mbx;
    std::uint16_t replied_sender;
    std::uint16_t replied_tag;
    std::uint16_t block_count;
};

// Writes h at the start of seg; false (and nothing written) when seg is shorter than a header.
inline bool put_header(const ByteSpan& seg, const MessageHeader& h) {
    if (seg.size() < MSG_HEADER_SIZE) return false;
    seg.put_u16(MSG_SENDER_ID, h.sender_id);
    seg.put_u16(MSG_REPLY_MODE, h.reply_mode);
    seg.put_u16(MSG_REPLY_MBX, h.reply_mbx);
    seg.put_u16(MSG_REPLIED_SENDER, h.replied_sender);
    seg.put_u16(MSG_REPLIED_TAG, h.replied_tag);
    seg.put_u16(MSG_BLOCK_COUNT, h.block_count);
    return true;
}

}  // namespace err
