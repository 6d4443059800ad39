// fuzz_dispatch: one message segment of any size and content, handled as the error task handles
// what it takes from ERROR_MBX (dispatch, default response, free).
//
// Input: byte 0 sets the scene, the rest is the segment.
//   bits 0-2  answers queued on ERROR_QMBX before the message: n answers (command 602) for the
//             box sequence numbers 1 to n, button codes 3, 4, 5, ... in turn
//   bit 3     the system log starts full (25 errors archived, then 5 more: overflow record)
//   bit 4     the user log starts full in the same way
//   bit 5     ui_ready, bit 6 variant_b, bit 7 archive_all (values before the message)
// Nobody serves GUI_MBX, IECSTATE_MBX or API_MBX. The executive is put into its ending state at
// start, so a wait on a mailbox that holds nothing returns at once (RTX_E_SHUTDOWN) instead of
// blocking: an awaited box gets a queued answer or none, and the task never waits for ever.
//
// Each input starts from the same state: task state reset, both logs rewritten from their
// images and set up again, the tables registered afresh (states back to ES_ALL). Afterwards
// every mailbox is drained and freed, and then:
//   - no segment may be left alive (the module frees what it receives and what it could not
//     send; answers belong to the executive);
//   - both logs must still pass the validation, unless the message exported an archive over a
//     log file itself.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "err/err_table.h"
#include "err/mb_kind.h"
#include "err/protocol.h"
#include "error_task.h"
#include "fuzz_support.h"
#include "host_system/world.h"
#include "log.h"
#include "log_check.h"
#include "own_table.h"
#include "rtx/rtx.h"
#include "rtx/rtx_host.h"
#include "task_state.h"

namespace {

constexpr std::uint16_t kFuzzModule = 2;

// A spread of definitions: every action code with a chain step, every box kind, both logs,
// show-once, status texts, long and multi-line texts, absent texts.
ErrTableEntry g_table[] = {
    {20001, EF_ARCHIVE, 0, ACT_BOX, ACT_BOX, "Box %s text", "B box %s", "FUZZ", mb_ok_cancel,
     mb_ok_cancel},
    {20002, EF_SYSTEM | EF_ARCHIVE, 0, ACT_BOX_ERROR, ACT_BOX_ERROR, "System %s/%s", "Sys B",
     "FUZZSYS", mb_abort_retry, mb_abort},
    {20003, EF_ARCHIVE | EF_IEC_TEXT, 0, ACT_API_TWO_INFO, ACT_BOX_THEN_API, "Api two %s",
     "Iec text %s for the status task", "FUZZ", mb_ok, mb_abort_continue},
    {20004, EF_SHOW_ONCE | EF_ARCHIVE, 0, ACT_BOX_WARNING, ACT_BOX, "Once %s", "Once B %s", "ONCE",
     mb_nonmodal_abort_continue, mb_ok},
    {20005, EF_ARCHIVE | EF_IEC_TEXT, 0, ACT_API_ONE, ACT_API_ONE, "Api one %s", "Api one B %s",
     "API", nullptr, nullptr},
    {20006, EF_ARCHIVE, 0, ACT_BOX_THEN_API, ACT_BOX_THEN_API, "Box then api %s", "B %s", "API",
     mb_auto_box, mb_modal_clear_close},
    {20007, 0, 0, ACT_API_TWO, ACT_API_TWO, "Api two plain", nullptr, nullptr, mb_modal_clear_close,
     nullptr},
    {20008, EF_ARCHIVE, 0, ACT_STOP, ACT_STOP, "Stop %s", "Stop B", "STOP", nullptr, nullptr},
    {20009, EF_ARCHIVE | EF_IEC_TEXT, 0, 3, 5,
     "%s%s%s%s%s%s%s%s a very long text of more than eighty characters with %s and %% and %d "
     "and %",
     "%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s",
     "A_COMPONENT_NAME_LONGER_THAN_FIFTEEN", mb_clear_close, mb_clear_close},
    {20010, EF_SYSTEM | EF_ARCHIVE | EF_SHOW_ONCE | EF_IEC_TEXT, 0, ACT_BOX, ACT_BOX,
     "line one\nline two\r\nline three %s\n", "multi\nline %s", "MULTI\nLINE", mb_abort,
     mb_ok_cancel},
    {20011, EF_ARCHIVE, 0, ACT_BOX, ACT_BOX_WARNING, nullptr, nullptr, nullptr, nullptr,
     mb_abort_retry},
    {20012, EF_SYSTEM, 0, ACT_API_TWO_INFO, ACT_API_TWO_INFO, "Info params %s", "B %s", "P", mb_ok,
     mb_ok},
    {ERR_TABLE_END, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
};

struct Scene {
    std::uint16_t error_mbx = 0, error_qmbx = 0, gui_mbx = 0, iecstate_mbx = 0;
    std::vector<std::uint16_t> mailboxes;  // every mailbox of the world, drained after each input
    std::vector<std::uint8_t> fresh_log;
    std::vector<std::uint8_t> full_log;
};

void must(bool ok, const char* what) {
    if (!ok) fuzzsup::fail(what);
}

void register_tables() {
    E_RemoveErrorTable(err::kOwnModule);
    E_RegisterErrorTable(err::kOwnModule, err::own_error_table());
    E_RemoveErrorTable(kFuzzModule);
    E_RegisterErrorTable(kFuzzModule, g_table);
}

void point_task_at_mailboxes(const Scene& s) {
    err::TaskState& st = err::task_state();
    st.error_mbx = s.error_mbx;
    st.error_qmbx = s.error_qmbx;
    st.gui_mbx = s.gui_mbx;
    st.iecstate_mbx = s.iecstate_mbx;
}

void set_up_logs(const std::vector<std::uint8_t>& system_image,
                 const std::vector<std::uint8_t>& user_image) {
    fuzzsup::write_file("LOG/SYSERR.LOG", system_image.data(), system_image.size());
    fuzzsup::write_file("LOG/USERERR.LOG", user_image.data(), user_image.size());
    must(err::init_log_file(0) && err::init_log_file(1), "log set-up failed");
}

Scene make_scene() {
    Scene s;
    // The host system's world on the fuzz root (its boot file names both logs), without a task
    // or partner tasks.
    static host_system::World world(fuzzsup::system_root());
    must(world.ready(), "mailboxes not created");
    s.error_mbx = world.error_mbx();
    s.error_qmbx = world.error_qmbx();
    s.gui_mbx = world.partner_mailboxes()[0];
    s.iecstate_mbx = world.partner_mailboxes()[1];
    s.mailboxes = world.partner_mailboxes();
    s.mailboxes.insert(s.mailboxes.end(), {s.error_mbx, s.error_qmbx, world.reply_mbx()});
    // No task will ever run: from now on a wait on an empty mailbox returns at once.
    world.shutdown();

    // The fresh image as the module creates it, and a full one with an overflow record.
    err::reset_task_state();
    fuzzsup::clean_root({"TARNBOOT.INI"});
    must(err::init_log_file(0) && err::init_log_file(1), "first log set-up failed");
    s.fresh_log = fuzzsup::read_file("LOG/SYSERR.LOG");
    for (int i = 0; i < 30; ++i) {
        must(err::archive_error(0, std::uint16_t(100 + i), "Filled for the fuzzer", "FILL",
                                "fill.cpp", i),
             "filling the log failed");
    }
    s.full_log = fuzzsup::read_file("LOG/SYSERR.LOG");
    must(err::check_log_image(s.full_log.data(), s.full_log.size()).ok(), "full image invalid");
    return s;
}

void queue_answers(const Scene& s, unsigned n) {
    for (unsigned i = 1; i <= n; ++i) {
        rtx_status status{};
        std::uint16_t seg = 0;
        old_rtx_global_alloc(&seg, 22, 0, 0, &status, "fuzz", 1);
        must(status.status == RTX_OK, "answer not allocated");
        std::uint8_t* p = static_cast<std::uint8_t*>(buildptr(seg, 0));
        auto put = [p](std::size_t at, std::uint16_t v) {
            p[at] = std::uint8_t(v);
            p[at + 1] = std::uint8_t(v >> 8);
        };
        put(MSG_SENDER_ID, GUI_SENDER_ID);
        put(MSG_BLOCK_COUNT, 1);
        put(MSG_HEADER_SIZE + BLK_COMMAND, CMD_BOX_ANSWER);
        put(MSG_HEADER_SIZE + BLK_LENGTH, 10);
        put(MSG_HEADER_SIZE + BLK_TAG1, std::uint16_t(i));
        put(MSG_HEADER_SIZE + BLK_TAG2, std::uint16_t(i));
        put(MSG_HEADER_SIZE + RESPONSE_RESULT, std::uint16_t(3 + (i - 1) % 5));
        must(_rtx_sendmessage(s.error_qmbx, seg, 0, &status) == RTX_OK, "answer not queued");
    }
}

void drain(std::uint16_t mailbox) {
    for (;;) {
        rtx_status status{};
        std::uint16_t seg = 0;
        _rtx_getmessage(&seg, mailbox, 0, 0, &status);
        if (status.status != RTX_OK) return;
        rtx_global_free(seg, &status);
    }
}

bool log_valid(const char* relative) {
    std::vector<std::uint8_t> bytes = fuzzsup::read_file(relative);
    return err::check_log_image(bytes.data(), bytes.size()).ok();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Scene scene = make_scene();
    if (size == 0) return 0;
    const std::uint8_t control = data[0];

    err::reset_task_state();
    point_task_at_mailboxes(scene);
    register_tables();
    set_up_logs((control & 0x08) ? scene.full_log : scene.fresh_log,
                (control & 0x10) ? scene.full_log : scene.fresh_log);
    err::TaskState& st = err::task_state();
    st.ui_ready = (control & 0x20) != 0;
    st.variant_b = (control & 0x40) != 0;
    st.archive_all = (control & 0x80) != 0 ? 1 : 0;
    queue_answers(scene, control & 0x07);
    fuzzsup::clear_write_opens();

    // The message in a segment of exactly its size, handled as the main loop handles it.
    rtx_status status{};
    std::uint16_t segment = 0;
    old_rtx_global_alloc(&segment, std::uint32_t(size - 1), 0, 0, &status, "fuzz", 2);
    if (status.status != RTX_OK) return 0;  // larger than the executive's biggest segment
    std::uint8_t* message = static_cast<std::uint8_t*>(buildptr(segment, 0));
    if (size > 1) std::memcpy(message, data + 1, size - 1);
    err::dispatch_message(message, rtx_segment_size(segment));
    send_default_response(message, ERR_SENDER_ID, &status);
    rtx_global_free(segment, &status);

    for (std::uint16_t mbx : scene.mailboxes) drain(mbx);
    rtx_host_counters counters{};
    rtx_host_get_counters(&counters);
    if (counters.segments_in_use != 0) {
        uint16_t ids[8] = {};
        const std::size_t n = rtx_host_list_segments(ids, 8);
        const char* file = "";
        int line = 0;
        if (n) rtx_host_segment_origin(ids[0], &file, &line);
        fuzzsup::fail("segment left alive", std::string(file) + ":" + std::to_string(line));
    }
    for (const char* log : {"LOG/SYSERR.LOG", "LOG/USERERR.LOG"}) {
        if (!fuzzsup::opened_for_writing(log) && !log_valid(log))
            fuzzsup::fail("log invalid after the message:", log);
    }
    fuzzsup::clean_root({"TARNBOOT.INI", "LOG/SYSERR.LOG", "LOG/USERERR.LOG"});
    rtx_host_console_clear();
    return 0;
}
