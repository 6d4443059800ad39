// EReportError: packs a report into a 232-byte message segment and sends it to ERROR_MBX.
//
// Runs in the caller's task and keeps no state between calls; a report that cannot be sent
// is dropped without output.
#include <cstdint>
#include <cstring>

#include "err/protocol.h"
#include "err/report.h"
#include "rtx/rtx.h"
#include "wire.h"

namespace err {

namespace {

constexpr const char* kOrigin = "except";
constexpr int kOriginLine = 316;
constexpr std::size_t kBlock = MSG_HEADER_SIZE;  // the one command block of a report

// Copies text into the field [offset, offset + size) like strncpy: at most size characters,
// the rest of the field NUL; a text of size characters or more leaves no terminator. A null
// text writes one NUL into the first byte (and the rest of the field is cleared like every
// byte that a report leaves unwritten). The field of a known size is cleared whole, then the
// characters are copied as they are found, in one pass over the text.
inline void put_text(const ByteSpan& seg, std::size_t offset, std::size_t size, const char* text) {
    if (!seg.has(offset, size)) return;
    std::uint8_t* field = seg.data() + offset;
    std::memset(field, 0, size);
    if (text != nullptr)
        for (std::size_t n = 0; n < size && text[n] != '\0'; ++n)
            field[n] = static_cast<std::uint8_t>(text[n]);
}

}  // namespace

}  // namespace err

extern "C" int EReportError(const char* file, int32_t line, uint16_t error_nr, const char* info) {
    using namespace err;

    // The executive may move the pointer past the directory part; the caller's pointer stays.
    const char* file_name = file;
    if (file_name != nullptr) EVcut_path(&file_name);

    // Looked up on every call: the error task's mailbox may come and go.
    rtx_status status{};
    uint16_t mailbox = 0;
    rtx_searchcatalog(&mailbox, CATALOG_ERROR_MBX, 0, &status);
    if (status.status != RTX_OK) return status.status;

    uint16_t segment = 0;
    old_rtx_global_alloc(&segment, REPORT_SEGMENT_SIZE, 0, 0, &status, kOrigin, kOriginLine);
    if (status.status != RTX_OK) return status.status;

    void* bytes = buildptr(segment, 0);
    if (bytes == nullptr) {
        // A segment without an address cannot be filled: give it back and drop the report.
        rtx_status free_status{};
        rtx_global_free(segment, &free_status);
        return RTX_E_BAD_ID;
    }
    const ByteSpan seg(bytes, REPORT_SEGMENT_SIZE);

    // Every byte is written once: the words and bytes that a report does not use
    // (replied_sender, replied_tag, tag1, tag2 and the 4 bytes after info) are cleared, so that
    // a report's bytes never depend on what the segment held before.
    put_header(seg, {0, REPLY_MODE_NONE, 0, 0, 0, 1});

    seg.put_u16(kBlock + BLK_COMMAND, CMD_REPORT_ERROR);
    seg.put_u16(kBlock + BLK_LENGTH, REPORT_BLOCK_LENGTH);
    seg.put_u16(kBlock + BLK_TAG1, 0);
    seg.put_u16(kBlock + BLK_TAG2, 0);

    seg.put_u16(kBlock + REPORT_ERROR_NR, error_nr);
    seg.put_u16(kBlock + REPORT_RESERVED, 0);
    seg.put_i32(kBlock + REPORT_LINE, line);
    put_text(seg, kBlock + REPORT_FILE, REPORT_FILE_SIZE, file_name);
    put_text(seg, kBlock + REPORT_INFO, REPORT_INFO_SIZE, info);
    constexpr std::size_t kAfterInfo = kBlock + REPORT_INFO + REPORT_INFO_SIZE;
    seg.fill(kAfterInfo, 0, REPORT_SEGMENT_SIZE - kAfterInfo);

    const int result = _rtx_sendmessage(mailbox, segment, 0, &status);
    if (status.status != RTX_OK) {
        // Not accepted: the segment is still ours.
        rtx_status free_status{};
        rtx_global_free(segment, &free_status);
        return result != 0 ? result : status.status;
    }
    return result;
}
