#include "host_system/messages.h"

#include <cstring>

#include "report_packing.h"
#include "rtx/rtx.h"
#include "wire.h"

namespace host_system {

void put16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
    if (bytes.size() < offset + 2) bytes.resize(offset + 2);
    err::ByteSpan(bytes.data(), bytes.size()).put_u16(offset, value);
}

std::uint16_t get16(const Bytes& bytes, std::size_t offset) {
    return err::ByteView(bytes.data(), bytes.size()).u16_or(offset, 0);
}

Bytes words(std::initializer_list<std::uint16_t> values) {
    Bytes out;
    for (std::uint16_t v : values) put16(out, out.size(), v);
    return out;
}

Bytes text_bytes(const std::string& text, bool with_zero) {
    Bytes out(text.begin(), text.end());
    if (with_zero) out.push_back(0);
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes block(std::uint16_t command, const Bytes& data, std::uint16_t tag1, std::uint16_t tag2) {
    Bytes out(BLK_HEAD_SIZE + data.size(), 0);
    put16(out, BLK_COMMAND, command);
    put16(out, BLK_LENGTH, static_cast<std::uint16_t>(out.size()));
    put16(out, BLK_TAG1, tag1);
    put16(out, BLK_TAG2, tag2);
    std::copy(data.begin(), data.end(), out.begin() + BLK_DATA);
    return out;
}

Bytes message(const Header& header, std::initializer_list<Bytes> blocks) {
    Bytes out(MSG_HEADER_SIZE, 0);
    err::put_header(err::ByteSpan(out.data(), out.size()),
                    {header.sender, header.reply_mode, header.reply_mbx, header.replied_sender,
                     header.replied_tag, static_cast<std::uint16_t>(blocks.size())});
    for (const Bytes& b : blocks) out.insert(out.end(), b.begin(), b.end());
    return out;
}

Bytes message(std::uint16_t sender, std::initializer_list<Bytes> blocks,
              std::uint16_t replied_tag) {
    Header header;
    header.sender = sender;
    header.replied_tag = replied_tag;
    return message(header, blocks);
}

Bytes report_message(const char* file, std::int32_t line, std::uint16_t error_nr,
                     const char* info) {
    const char* file_name = file;
    if (file_name != nullptr) EVcut_path(&file_name);
    Bytes out(REPORT_SEGMENT_SIZE, 0);
    err::pack_report(err::ByteSpan(out.data(), out.size()), file_name, line, error_nr, info);
    return out;
}

std::uint16_t first_command(const Bytes& message) {
    const err::ByteView v(message.data(), message.size());
    std::uint16_t count = 0;
    if (!v.u16(MSG_BLOCK_COUNT, count) || count == 0) return 0;
    return v.u16_or(MSG_HEADER_SIZE + BLK_COMMAND, 0);
}

bool send(std::uint16_t mailbox, const Bytes& bytes, const char* origin, int line) {
    rtx_status status{};
    std::uint16_t segment = 0;
    old_rtx_global_alloc(&segment, static_cast<std::uint32_t>(bytes.size()), 0, 0, &status, origin,
                         line);
    if (status.status != RTX_OK) return false;
    void* p = buildptr(segment, 0);
    if ((p == nullptr && !bytes.empty()) || rtx_segment_size(segment) < bytes.size()) {
        rtx_global_free(segment, &status);
        return false;
    }
    if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
    if (_rtx_sendmessage(mailbox, segment, 0, &status) != RTX_OK || status.status != RTX_OK) {
        rtx_status free_status{};
        rtx_global_free(segment, &free_status);
        return false;
    }
    return true;
}

Bytes segment_bytes(std::uint16_t segment) {
    const auto* p = static_cast<const std::uint8_t*>(buildptr(segment, 0));
    return p ? Bytes(p, p + rtx_segment_size(segment)) : Bytes();
}

std::uint16_t take(std::uint16_t mailbox, std::uint16_t timeout, Bytes& out) {
    std::uint16_t segment = 0;
    rtx_status status{};
    _rtx_getmessage(&segment, mailbox, timeout, 0, &status);
    if (status.status != RTX_OK) return status.status;
    out = segment_bytes(segment);
    rtx_status free_status{};
    rtx_global_free(segment, &free_status);
    return RTX_OK;
}

}  // namespace host_system
