// Helpers of the registry, table, report and contract tests: a quiet console and the report
// segments that arrive at ERROR_MBX, read back through bounds-checked views.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "err/err.h"
#include "rtx/rtx_host.h"
#include "wire.h"

namespace core_test {

// Console captured instead of echoed; starts empty.
inline void quiet_console() {
    rtx_host_console_echo(0);
    rtx_host_console_clear();
}

inline std::string console() {
    return rtx_host_console_text();
}

// Takes the next segment of mailbox without waiting, copies its bytes and frees it.
// Empty when the mailbox holds nothing.
inline std::vector<std::uint8_t> take_message(std::uint16_t mailbox) {
    std::uint16_t segment = 0;
    rtx_status status{};
    _rtx_getmessage(&segment, mailbox, 0, 0, &status);
    if (status.status != RTX_OK) return {};
    const std::uint32_t size = rtx_segment_size(segment);
    const auto* bytes = static_cast<const std::uint8_t*>(buildptr(segment, 0));
    std::vector<std::uint8_t> copy;
    if (bytes != nullptr) copy.assign(bytes, bytes + size);
    rtx_global_free(segment, &status);
    return copy;
}

inline std::uint16_t u16_at(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    std::uint16_t v = 0xDEAD;
    EXPECT_TRUE(err::ByteView(bytes.data(), bytes.size()).u16(offset, v)) << "offset " << offset;
    return v;
}

inline std::int32_t i32_at(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    std::int32_t v = -12345;
    EXPECT_TRUE(err::ByteView(bytes.data(), bytes.size()).i32(offset, v)) << "offset " << offset;
    return v;
}

// The whole field [offset, offset + size) as raw bytes, NULs included.
inline std::string raw_field(const std::vector<std::uint8_t>& bytes, std::size_t offset,
                             std::size_t size) {
    if (offset + size > bytes.size()) return "<outside>";
    return std::string(reinterpret_cast<const char*>(bytes.data()) + offset, size);
}

// The text of a field: up to its first NUL, at most size characters.
inline std::string text_field(const std::vector<std::uint8_t>& bytes, std::size_t offset,
                              std::size_t size) {
    err::ByteView view(bytes.data(), bytes.size());
    return std::string(reinterpret_cast<const char*>(bytes.data()) + offset,
                       view.text_length(offset, size));
}

constexpr std::size_t kBlock = MSG_HEADER_SIZE;

// A report as the error task reads it.
struct Report {
    std::uint16_t error_nr = 0;
    std::int32_t line = 0;
    std::string file;
    std::string info;
};

// Checks the fixed parts of a 601 report segment and returns its variable fields.
inline Report read_report(const std::vector<std::uint8_t>& bytes) {
    Report r;
    EXPECT_EQ(bytes.size(), std::size_t{REPORT_SEGMENT_SIZE});
    if (bytes.size() != REPORT_SEGMENT_SIZE) return r;
    EXPECT_EQ(u16_at(bytes, MSG_SENDER_ID), 0);
    EXPECT_EQ(u16_at(bytes, MSG_REPLY_MODE), 0);
    EXPECT_EQ(u16_at(bytes, MSG_REPLY_MBX), 0);
    EXPECT_EQ(u16_at(bytes, MSG_BLOCK_COUNT), 1);
    EXPECT_EQ(u16_at(bytes, kBlock + BLK_COMMAND), CMD_REPORT_ERROR);
    EXPECT_EQ(u16_at(bytes, kBlock + BLK_LENGTH), REPORT_BLOCK_LENGTH);
    EXPECT_EQ(u16_at(bytes, kBlock + REPORT_RESERVED), 0);
    r.error_nr = u16_at(bytes, kBlock + REPORT_ERROR_NR);
    r.line = i32_at(bytes, kBlock + REPORT_LINE);
    r.file = text_field(bytes, kBlock + REPORT_FILE, REPORT_FILE_SIZE);
    r.info = text_field(bytes, kBlock + REPORT_INFO, REPORT_INFO_SIZE);
    return r;
}

// ERROR_MBX created in the catalog, so that reports arrive there.
inline std::uint16_t create_error_mbx() {
    const std::uint16_t mbx = rtx_host_create_mailbox(CATALOG_ERROR_MBX);
    EXPECT_NE(mbx, 0);
    return mbx;
}

inline rtx_host_counters counters() {
    rtx_host_counters c{};
    rtx_host_get_counters(&c);
    return c;
}

}  // namespace core_test
