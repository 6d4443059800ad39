// EReportError: packs a report into a 232-byte message segment and sends it to ERROR_MBX.
//
// Runs in the caller's task and keeps no state between calls; a report that cannot be sent
// is dropped without output.
#include <cstdint>

#include "err/protocol.h"
#include "err/report.h"
#include "report_packing.h"
#include "rtx/rtx.h"
#include "wire.h"

namespace {

constexpr const char* kOrigin = "except";
constexpr int kOriginLine = 316;

}  // namespace

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
    pack_report(ByteSpan(bytes, REPORT_SEGMENT_SIZE), file_name, line, error_nr, info);

    const int result = _rtx_sendmessage(mailbox, segment, 0, &status);
    if (status.status != RTX_OK) {
        // Not accepted: the segment is still ours.
        rtx_status free_status{};
        rtx_global_free(segment, &free_status);
        return result != 0 ? result : status.status;
    }
    return result;
}
