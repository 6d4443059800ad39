// Helpers of the registry, report and contract tests: a quiet console, the executive's
// counters and the report segments that arrive at ERROR_MBX.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
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

inline rtx_host_counters counters() {
    rtx_host_counters c{};
    rtx_host_get_counters(&c);
    return c;
}

// ERROR_MBX created in the catalog, so that reports arrive there.
inline std::uint16_t create_error_mbx() {
    return rtx_host_create_mailbox(CATALOG_ERROR_MBX);
}

// Takes the next segment of mailbox without waiting, copies its bytes and frees it. Empty
// when the mailbox holds nothing.
inline std::vector<std::uint8_t> take_message(std::uint16_t mailbox) {
    std::uint16_t segment = 0;
    rtx_status status{};
    _rtx_getmessage(&segment, mailbox, 0, 0, &status);
    if (status.status != RTX_OK) return {};
    const auto* bytes = static_cast<const std::uint8_t*>(buildptr(segment, 0));
    std::vector<std::uint8_t> copy;
    if (bytes != nullptr) copy.assign(bytes, bytes + rtx_segment_size(segment));
    rtx_global_free(segment, &status);
    return copy;
}

// The bytes [offset, offset + size), NULs included.
inline std::string raw_field(const std::vector<std::uint8_t>& bytes, std::size_t offset,
                             std::size_t size) {
    if (offset + size > bytes.size()) return "<outside>";
    return std::string(reinterpret_cast<const char*>(bytes.data()) + offset, size);
}

// The next report on mailbox as "ERROR_NR LINE FILE: INFO" (each text up to its first NUL,
// at most 80 and 120 characters), after checking its 232 bytes begin with the header and the
// block head of a report and the reserved word 0.
inline std::string take_report(std::uint16_t mailbox) {
    static const std::uint8_t head[20] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x59, 0x02, 0xDC};
    const std::vector<std::uint8_t> bytes = take_message(mailbox);
    const err::ByteView view(bytes.data(), bytes.size());
    if (bytes.size() != 232 || !std::equal(head, head + 20, bytes.begin()) ||
        view.u16_or(22, 1) != 0)
        return "<no report>";
    std::int32_t line = 0;
    view.i32(24, line);
    return std::to_string(view.u16_or(20, 0)) + " " + std::to_string(line) + " " +
           raw_field(bytes, 28, view.text_length(28, 80)) + ": " +
           raw_field(bytes, 108, view.text_length(108, 120));
}

}  // namespace core_test
