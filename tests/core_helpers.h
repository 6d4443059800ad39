// Helpers of the registry, report and contract tests: a quiet console, the executive's
// counters and the report segments that arrive at ERROR_MBX.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

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

// The bytes of the next segment of mailbox, taken without waiting and freed; empty when the
// mailbox holds nothing.
inline std::string take_message(std::uint16_t mailbox) {
    std::uint16_t segment = 0;
    rtx_status status{};
    _rtx_getmessage(&segment, mailbox, 0, 0, &status);
    if (status.status != RTX_OK) return "";
    const std::string bytes(static_cast<const char*>(buildptr(segment, 0)),
                            rtx_segment_size(segment));
    rtx_global_free(segment, &status);
    return bytes;
}

// The next report on mailbox as "ERROR_NR LINE FILE: INFO" (each text up to its first NUL, at
// most 80 and 120 characters), after checking its size and that it begins with the header and
// the block head of a report.
inline std::string take_report(std::uint16_t mailbox) {
    const std::string bytes = take_message(mailbox);
    const err::ByteView view(bytes.data(), bytes.size());
    std::int32_t line = 0;
    if (bytes.size() != 232 ||
        bytes.substr(0, 20) != std::string("\0\0\0\0\0\0\0\0\0\0\1\0\x59\x02\xDC\0\0\0\0\0", 20) ||
        view.u16_or(22, 1) != 0 || !view.i32(24, line))
        return "<no report>";
    return std::to_string(view.u16_or(20, 0)) + " " + std::to_string(line) + " " +
           bytes.substr(28, view.text_length(28, 80)) + ": " +
           bytes.substr(108, view.text_length(108, 120));
}

}  // namespace core_test
