// The bytes of a report (command 601), as EReportError sends them. Header-only: the host's
// programs that build a report themselves (to ask for its answer) pack it with this code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "err/protocol.h"
#include "wire.h"

namespace err {

// Copies text into the field [offset, offset + size) like strncpy: at most size characters,
// the rest of the field NUL; a text of size characters or more leaves no terminator. A null
// text leaves the field all NUL. The field of a known size is cleared whole, then the
// characters are copied as they are found, in one pass over the text.
inline void put_report_text(const ByteSpan& seg, std::size_t offset, std::size_t size,
                            const char* text) {
    if (!seg.has(offset, size)) return;
    std::uint8_t* field = seg.data() + offset;
    std::memset(field, 0, size);
    if (text != nullptr)
        for (std::size_t n = 0; n < size && text[n] != '\0'; ++n)
            field[n] = static_cast<std::uint8_t>(text[n]);
}

// Fills seg (REPORT_SEGMENT_SIZE bytes) with the report of error_nr from file_name (its
// directory part already cut), line and info: no answer wanted, one block. Every byte is
// written once: the words and bytes that a report does not use (replied_sender, replied_tag,
// tag1, tag2 and the 4 bytes after info) are cleared, so that a report's bytes never depend on
// what the segment held before.
inline void pack_report(const ByteSpan& seg, const char* file_name, std::int32_t line,
                        std::uint16_t error_nr, const char* info) {
    constexpr std::size_t kBlock = MSG_HEADER_SIZE;  // the one command block of a report
    put_header(seg, {0, REPLY_MODE_NONE, 0, 0, 0, 1});
    seg.put_u16(kBlock + BLK_COMMAND, CMD_REPORT_ERROR);
    seg.put_u16(kBlock + BLK_LENGTH, REPORT_BLOCK_LENGTH);
    seg.put_u16(kBlock + BLK_TAG1, 0);
    seg.put_u16(kBlock + BLK_TAG2, 0);
    seg.put_u16(kBlock + REPORT_ERROR_NR, error_nr);
    seg.put_u16(kBlock + REPORT_RESERVED, 0);
    seg.put_i32(kBlock + REPORT_LINE, line);
    put_report_text(seg, kBlock + REPORT_FILE, REPORT_FILE_SIZE, file_name);
    put_report_text(seg, kBlock + REPORT_INFO, REPORT_INFO_SIZE, info);
    constexpr std::size_t kAfterInfo = kBlock + REPORT_INFO + REPORT_INFO_SIZE;
    seg.fill(kAfterInfo, 0, REPORT_SEGMENT_SIZE - kAfterInfo);
}

}  // namespace err
