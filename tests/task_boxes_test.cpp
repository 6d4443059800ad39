// Message boxes on the user interface and status texts for the remote-control status task,
// as the error task sends them while it handles reports.
#include <gtest/gtest.h>

#include <string>

#include "err/err.h"
#include "rtx/rtx_host.h"
#include "support/task_harness.h"
#include "task_state.h"

namespace {

using errtest::Bytes;
using errtest::concat;
using errtest::get16;
using errtest::TaskHarness;
using errtest::text_bytes;
using errtest::words;

constexpr std::uint16_t kModule = 3;
constexpr std::uint16_t kOkCancel = 4001;
constexpr std::uint16_t kOk = 4002;
constexpr std::uint16_t kAbort = 4003;
constexpr std::uint16_t kModalClear = 4004;
constexpr std::uint16_t kAbortContinue = 4005;
constexpr std::uint16_t kNoKind = 4006;
constexpr std::uint16_t kNonModal = 4007;
constexpr std::uint16_t kVariantB = 4008;
constexpr std::uint16_t kIecText = 4009;
constexpr std::uint16_t kAutoBox = 4010;
constexpr std::uint16_t kBoxThenApi = 4011;
constexpr std::uint16_t kIecSystem = 4012;
constexpr std::uint16_t kIecEmpty = 4013;

const char kLongText[] = "Status text of forty-five characters, exactly";  // 45

ErrTableEntry g_table[] = {
    errtest::entry(kOkCancel, 0, ACT_BOX_ERROR, "Box %s", "BOX", mb_ok_cancel),
    errtest::entry(kOk, 0, ACT_BOX_ERROR, "Box %s", "BOX", mb_ok),
    errtest::entry(kAbort, 0, ACT_BOX_ERROR, "Box %s", "BOX", mb_abort),
    errtest::entry(kModalClear, 0, ACT_BOX_WARNING, "Box %s", "BOX", mb_modal_clear_close),
    errtest::entry(kAbortContinue, 0, ACT_BOX_ERROR, "Box %s", "BOX", mb_abort_continue),
    errtest::entry(kNoKind, 0, ACT_BOX, "Box %s", "BOX"),
    errtest::entry(kNonModal, 0, ACT_BOX, "Box %s", "BOX", mb_nonmodal_abort_continue),
    errtest::entry(kVariantB, EF_ARCHIVE, ACT_NONE, "Aaa %s", "BOX", nullptr, ACT_BOX_ERROR,
                   "Bee %s", mb_ok_cancel),
    errtest::entry(kIecText, EF_IEC_TEXT, ACT_NONE, "A text", "BOX", nullptr, ACT_NONE, kLongText),
    errtest::entry(kAutoBox, 0, ACT_BOX_ERROR, "Box %s", "BOX", mb_auto_box),
    errtest::entry(kBoxThenApi, 0, ACT_BOX_THEN_API, "Box %s", "BOX", mb_ok_cancel),
    errtest::entry(kIecSystem, EF_SYSTEM | EF_IEC_TEXT, ACT_NONE, "Sys", "BOX", nullptr, ACT_NONE,
                   "Sys B"),
    errtest::entry(kIecEmpty, EF_IEC_TEXT, ACT_NONE, "A", "BOX", nullptr, ACT_NONE, ""),
    errtest::end_entry(),
};

std::uint16_t result_of(const Bytes& answer) {
    return get16(answer, 20);
}

// The 22-byte answer embedded for a button.
Bytes button_answer(std::uint16_t command, std::uint16_t sequence, std::uint16_t code) {
    return words({GUI_SENDER_ID, 0, 0, 0xFFFF, 0xFFFF, 1, command, 10, sequence, sequence, code});
}

// The first 64 bytes of a box request block; descriptors hold {label, 22, answer, 0}.
Bytes box_head(std::uint16_t block_length, std::uint16_t buttons, std::uint16_t first,
               std::uint16_t second, std::uint16_t flags, std::uint16_t title_at,
               std::uint16_t text_at, std::initializer_list<std::pair<int, int>> descriptors) {
    Bytes out = words(
        {CMD_SHOW_BOX, block_length, 0, 0, 155, buttons, first, second, flags, title_at, text_at});
    for (const auto& d : descriptors) {
        const Bytes desc = words({std::uint16_t(d.first), 22, std::uint16_t(d.second), 0});
        out.insert(out.end(), desc.begin(), desc.end());
    }
    out.resize(64, 0);
    return out;
}

struct BoxFields {
    std::uint16_t reply_mode, reply_mbx, length, buttons, first, second, flags, title_at, text_at;
};

BoxFields fields(const Bytes& request) {
    return {get16(request, 2),  get16(request, 4),  get16(request, 14),
            get16(request, 22), get16(request, 24), get16(request, 26),
            get16(request, 28), get16(request, 30), get16(request, 32)};
}

void expect_fields(const Bytes& request, BoxFields want, const char* what) {
    const BoxFields got = fields(request);
    EXPECT_EQ(got.reply_mode, want.reply_mode) << what;
    EXPECT_EQ(got.reply_mbx, want.reply_mbx) << what;
    EXPECT_EQ(got.length, want.length) << what;
    EXPECT_EQ(got.buttons, want.buttons) << what;
    EXPECT_EQ(got.first, want.first) << what;
    EXPECT_EQ(got.second, want.second) << what;
    EXPECT_EQ(got.flags, want.flags) << what;
    EXPECT_EQ(got.title_at, want.title_at) << what;
    EXPECT_EQ(got.text_at, want.text_at) << what;
}

TEST(TaskBoxes, AwaitedBoxCarriesItsAnswersAndWaitsForTheChosenOne) {
    errtest::register_table(kModule, g_table);
    TaskHarness h;
    h.start();
    h.command(CMD_UI_READY);
    h.choose_button(1);   // CANCEL
    h.send_strays(true);  // answers of another command and another box come first
    EXPECT_EQ(result_of(h.report(kOkCancel, "x")), BTN_CANCEL);

    ASSERT_EQ(h.box_requests().size(), 1u);
    const Bytes expected = concat({
        words({ERR_SENDER_ID, 2, h.error_qmbx(), 0xFFFF, 0xFFFF, 1}),
        box_head(130, 2, 0, 0, 0x08, 64, 70, {{76, 79}, {101, 108}}),
        text_bytes("ERROR", true),                     // 64
        text_bytes("Box x", true),                     // 70
        text_bytes("OK", true),                        // 76
        button_answer(CMD_BOX_ANSWER, 1, BTN_OK),      // 79
        text_bytes("CANCEL", true),                    // 101
        button_answer(CMD_BOX_ANSWER, 1, BTN_CANCEL),  // 108
    });
    EXPECT_EQ(h.box_requests()[0], expected);

    // The next box has the next sequence number in its answers.
    h.choose_button(0);
    EXPECT_EQ(result_of(h.report(kOkCancel, "x")), BTN_OK);
    ASSERT_EQ(h.box_requests().size(), 2u);
    EXPECT_EQ(get16(h.box_requests()[1], 12 + 79 + 16), 2);
    EXPECT_EQ(get16(h.box_requests()[1], 12 + 108 + 18), 2);
    EXPECT_EQ(err::task_state().box_sequence, 2);

    // Every segment the task received, the strays among them, was given back.
    h.settle();
    EXPECT_EQ(h.live_segments(), 0u);
    EXPECT_EQ(h.console(), "");
}

TEST(TaskBoxes, AnswerOfAnOkBoxGoesToErrorMbxAsCommand618) {
    errtest::register_table(kModule, g_table);
    TaskHarness h;
    h.start();
    h.command(CMD_UI_READY);
    // Not awaited: the report is answered with 0 at once.
    EXPECT_EQ(result_of(h.report(kOk, "y")), 0);
    h.wait_for_boxes(1);
    h.settle();  // the user's answer, command 618, reaches ERROR_MBX and is handled

    const Bytes expected = concat({
        words({ERR_SENDER_ID, 2, h.error_mbx(), 0xFFFF, 0xFFFF, 1}),
        box_head(101, 1, 0, 0, 0x08, 64, 70, {{76, 79}}),
        text_bytes("ERROR", true),
        text_bytes("Box y", true),
        text_bytes("OK", true),
        button_answer(CMD_ASYNC_BOX_ANSWER, 1, BTN_OK),
    });
    ASSERT_EQ(h.box_requests().size(), 1u);
    EXPECT_EQ(h.box_requests()[0], expected);
    // 618 is no unknown command, and the API task hears nothing of it.
    EXPECT_EQ(h.console(), "");
    EXPECT_TRUE(h.api_messages().empty());
    EXPECT_EQ(h.live_segments(), 0u);
}

TEST(TaskBoxes, MarksFlagsAndResultsOfTheOtherKinds) {
    errtest::register_table(kModule, g_table);
    TaskHarness h;
    h.start();
    h.command(CMD_UI_READY);
    const std::uint16_t q = h.error_qmbx();

    // mb_abort: default 0 matches no button; awaited, ABORT answers 6.
    EXPECT_EQ(result_of(h.report(kAbort, "a")), BTN_ABORT);
    // mb_modal_clear_close: no buttons, modal, nothing awaited, titled WARNING; answer 0.
    EXPECT_EQ(result_of(h.report(kModalClear, "b")), 0);
    // mb_auto_box: no buttons, not modal.
    EXPECT_EQ(result_of(h.report(kAutoBox, "c")), 0);
    // No kind, no title: flags 0x09 and no sequence number used.
    EXPECT_EQ(result_of(h.report(kNoKind, "d")), 0);
    // mb_nonmodal_abort_continue: both marks on CONTINUE; choose it.
    h.choose_button(1);
    EXPECT_EQ(result_of(h.report(kNonModal, "e")), BTN_CONTINUE);
    h.settle();

    const std::vector<Bytes> boxes = h.box_requests();
    ASSERT_EQ(boxes.size(), 5u);
    // ERROR\0 at 64, "Box a\0" at 70, "ABORT\0" at 76, answer at 82.
    expect_fields(boxes[0], {2, q, 104, 1, 0, 0xFFFF, 0x08, 64, 70}, "mb_abort");
    EXPECT_EQ(boxes[0].size(), 12u + 104u);
    // WARNING\0 at 64 (8), text at 72, no buttons.
    expect_fields(boxes[1], {0, 0, 78, 0, 0, 0xFFFF, 0x08, 64, 72}, "mb_modal_clear_close");
    EXPECT_EQ(Bytes(boxes[1].begin() + 12 + 64, boxes[1].end()),
              concat({text_bytes("WARNING", true), text_bytes("Box b", true)}));
    expect_fields(boxes[2], {0, 0, 76, 0, 0, 0xFFFF, 0x0D, 64, 70}, "mb_auto_box");
    // No title: the text stands at 64.
    expect_fields(boxes[3], {0, 0, 70, 0, 0, 0, 0x09, 0, 64}, "no kind");
    EXPECT_EQ(boxes[3],
              concat({words({ERR_SENDER_ID, 0, 0, 0xFFFF, 0xFFFF, 1}),
                      box_head(70, 0, 0, 0, 0x09, 0, 64, {}), text_bytes("Box d", true)}));
    // "Box e\0" at 64, ABORT at 70 (answer 76), CONTINUE at 98 (answer 107).
    expect_fields(boxes[4], {2, q, 129, 2, 1, 1, 0x0C, 0, 64}, "mb_nonmodal_abort_continue");
    EXPECT_EQ(Bytes(boxes[4].begin() + 12 + 22, boxes[4].begin() + 12 + 38),
              words({70, 22, 76, 0, 98, 22, 107, 0}));
    EXPECT_EQ(Bytes(boxes[4].begin() + 12 + 107, boxes[4].end()),
              button_answer(CMD_BOX_ANSWER, 4, BTN_CONTINUE));
    // Sequence numbers: abort 1, modal clear 2, auto box 3, no kind none, non-modal 4.
    EXPECT_EQ(get16(boxes[0], 12 + 82 + 16), 1);
    EXPECT_EQ(err::task_state().box_sequence, 4);
    EXPECT_EQ(h.console(), "");
}

TEST(TaskBoxes, BoxesOffOrInterfaceNotReadySendNothing) {
    errtest::register_table(kModule, g_table);
    TaskHarness h;
    h.start();
    // Interface not ready: 0, even though the kind's default is 7.
    EXPECT_EQ(result_of(h.report(kAbortContinue)), 0);
    // Boxes off: the kind's default answer.
    h.command(CMD_UI_READY);
    h.command(CMD_BOXES_OFF);
    EXPECT_EQ(result_of(h.report(kAbortContinue)), BTN_CONTINUE);
    EXPECT_EQ(result_of(h.report(kNoKind)), 0);
    // ES_BOX cleared for one error: its default, while boxes are on again.
    h.command(CMD_BOXES_ON);
    h.command(CMD_SET_ERROR_STATE, words({kAbortContinue, std::uint16_t(~ES_BOX), 0}));
    EXPECT_EQ(result_of(h.report(kAbortContinue)), BTN_CONTINUE);
    h.settle();
    EXPECT_TRUE(h.box_requests().empty());
    EXPECT_EQ(err::task_state().box_sequence, 0);
    EXPECT_EQ(h.console(), "");
}

TEST(TaskBoxes, VariantBShowsBoxesWithoutButtonsAndArchivesTextA) {
    errtest::register_table(kModule, g_table);
    TaskHarness h;
    h.start();
    h.command(CMD_UI_READY);
    h.command(CMD_VARIANT_B);
    // The kind's default answer, without waiting.
    EXPECT_EQ(result_of(h.report(kVariantB, "z")), BTN_OK);
    // A definition without a variant-B action shows nothing.
    EXPECT_EQ(result_of(h.report(kOkCancel, "z")), 0);
    h.settle();

    ASSERT_EQ(h.box_requests().size(), 1u);
    // The segment has room for the kind's buttons, but none is written.
    const Bytes expected = concat({
        words({ERR_SENDER_ID, 0, 0, 0xFFFF, 0xFFFF, 1}),
        box_head(76, 0, 0, 0xFFFF, 0x09, 64, 70, {}),
        text_bytes("ERROR", true),
        text_bytes("Bee z", true),
        Bytes(3 + 22 + 7 + 22, 0),
    });
    EXPECT_EQ(h.box_requests()[0], expected);
    EXPECT_EQ(err::task_state().box_sequence, 1);

    // The log gets the variant-A text.
    const errtest::ArchiveFile user = h.export_log(1);
    ASSERT_EQ(user.errors.size(), 1u);
    EXPECT_EQ(user.errors[0].text, "Aaa z");
    EXPECT_EQ(h.console(), "");
}

TEST(TaskBoxes, StatusTextsGoOutInVariantBOnly) {
    errtest::register_table(kModule, g_table);
    TaskHarness h;
    h.start();
    // Variant A: no status text.
    EXPECT_EQ(result_of(h.report(kIecText)), 0);
    h.command(CMD_VARIANT_B);
    EXPECT_EQ(result_of(h.report(kIecText)), 0);
    // A system error, an empty text, and a cleared ES_IEC_TEXT send nothing.
    EXPECT_EQ(result_of(h.report(kIecSystem)), 0);
    EXPECT_EQ(result_of(h.report(kIecEmpty)), 0);
    h.command(CMD_SET_ERROR_STATE, words({kIecText, std::uint16_t(~ES_IEC_TEXT), 0}));
    EXPECT_EQ(result_of(h.report(kIecText)), 0);
    h.settle();

    ASSERT_EQ(h.status_texts().size(), 1u);
    const Bytes expected = concat({words({ERR_SENDER_ID, 2, h.error_qmbx(), 0xFFFF, 0xFFFF, 1,
                                          CMD_STATUS_TEXT, 41, 0, 0, 61}),
                                   text_bytes(std::string(kLongText, 30), true)});
    EXPECT_EQ(h.status_texts()[0], expected);
    EXPECT_EQ(h.status_texts()[0].size(), 53u);
    // The acknowledgement was taken and given back.
    EXPECT_EQ(h.live_segments(), 0u);
    EXPECT_EQ(h.console(), "");
}

TEST(TaskBoxes, ActionSeventeenShowsTheBoxThenNotifies) {
    errtest::register_table(kModule, g_table);
    TaskHarness h;
    h.start();
    h.command(CMD_UI_READY);
    h.choose_button(1);
    // Whatever the answer, the chain goes on to the API notification, which ends it with 0.
    EXPECT_EQ(result_of(h.report(kBoxThenApi, "text$4")), 0);
    h.settle();
    ASSERT_EQ(h.box_requests().size(), 1u);
    EXPECT_EQ(get16(h.box_requests()[0], 12 + 20), 64);  // text at 64: no title
    ASSERT_EQ(h.api_messages().size(), 1u);
    EXPECT_EQ(h.api_messages()[0],
              words({ERR_SENDER_ID, 2, h.error_mbx(), 0, 0, 1, CMD_API_NOTIFY, 24, 0, 0,
                     API_ERROR_ONE_PARAM, 0, 0, 0, 0, 0, 4, kBoxThenApi}));
}

}  // namespace
