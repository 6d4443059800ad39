// Message boxes on the user interface and status texts for the remote-control status task,
// as the error task sends them while it handles reports.
#include "support/task_harness.h"

namespace {

using namespace errtest;

constexpr std::uint16_t kModule = 3;
// Error numbers 4001 to 4014.
enum : std::uint16_t {
    kOkCancel = 4001,
    kOk,
    kAbort,
    kModalClear,
    kAbortContinue,
    kNoKind,
    kNonModal,
    kVariantB,
    kIecText,
    kAutoBox,
    kBoxThenApi,
    kIecSystem,
    kIecEmpty,
    kEmptyText
};

const char kLongText[] = "Status text of forty-five characters, exactly";  // 45

ErrTableEntry g_table[] = {
    entry(kOkCancel, 0, ACT_BOX_ERROR, "Box %s", "BOX", mb_ok_cancel),
    entry(kOk, 0, ACT_BOX_ERROR, "Box %s", "BOX", mb_ok),
    entry(kAbort, 0, ACT_BOX_ERROR, "Box %s", "BOX", mb_abort),
    entry(kModalClear, 0, ACT_BOX_WARNING, "Box %s", "BOX", mb_modal_clear_close),
    entry(kAbortContinue, 0, ACT_BOX_ERROR, "Box %s", "BOX", mb_abort_continue),
    entry(kNoKind, 0, ACT_BOX, "Box %s", "BOX"),
    entry(kNonModal, 0, ACT_BOX, "Box %s", "BOX", mb_nonmodal_abort_continue),
    entry(kVariantB, EF_ARCHIVE, ACT_NONE, "Aaa %s", "BOX", nullptr, ACT_BOX_ERROR, "Bee %s",
          mb_ok_cancel),
    entry(kIecText, EF_IEC_TEXT, ACT_NONE, "A text", "BOX", nullptr, ACT_NONE, kLongText),
    entry(kAutoBox, 0, ACT_BOX_ERROR, "Box %s", "BOX", mb_auto_box),
    entry(kBoxThenApi, 0, ACT_BOX_THEN_API, "Box %s", "BOX", mb_ok_cancel),
    entry(kIecSystem, EF_SYSTEM | EF_IEC_TEXT, ACT_NONE, "Sys", "BOX", nullptr, ACT_NONE, "Sys B"),
    entry(kIecEmpty, EF_IEC_TEXT, ACT_NONE, "A", "BOX", nullptr, ACT_NONE, ""),
    entry(kEmptyText, 0, ACT_BOX, "", "BOX"),
    end_entry(),
};

using TaskBoxes = TaskTest<kModule, g_table>;
using Words = std::vector<std::uint16_t>;

// A text with its terminating zero.
Bytes z(const std::string& text) {
    return text_bytes(text, true);
}

// The 22-byte answer embedded for a button.
Bytes button_answer(std::uint16_t command, std::uint16_t sequence, std::uint16_t code) {
    return words({GUI_SENDER_ID, 0, 0, 0xFFFF, 0xFFFF, 1, command, 10, sequence, sequence, code});
}

// A whole box request: the header, the block's 64-byte head ({block_length, buttons, first,
// second, flags, title_at, text_at} and descriptors {label, 22, answer, 0}), then area.
Bytes box_request(std::uint16_t reply_mode, std::uint16_t reply_mbx, Words head,
                  std::initializer_list<std::pair<int, int>> descriptors,
                  std::initializer_list<Bytes> area) {
    Bytes out = words({ERR_SENDER_ID, reply_mode, reply_mbx, 0xFFFF, 0xFFFF, 1, CMD_SHOW_BOX,
                       head[0], 0, 0, 155});
    for (std::size_t i = 1; i < head.size(); ++i) put16(out, out.size(), head[i]);
    for (const auto& [label, answer] : descriptors)
        for (int w : {label, 22, answer, 0}) put16(out, out.size(), std::uint16_t(w));
    out.resize(12 + 64, 0);
    return concat({out, concat(area)});
}

// Awaited boxes: the chosen answer returns; strays are skipped and freed; sequence numbers count.
TEST_F(TaskBoxes, AwaitedBoxCarriesItsAnswersAndWaitsForTheChosenOne) {
    h.command(CMD_UI_READY);
    // CANCEL, with answers of another command and another box coming first.
    h.choose_button(1, true);
    EXPECT_EQ(result_of(h.report(kOkCancel, "x")), BTN_CANCEL);
    // The next box has the next sequence number in its answers.
    h.choose_button(0, true);
    EXPECT_EQ(result_of(h.report(kOkCancel, "x")), BTN_OK);
    EXPECT_EQ(err::task_state().box_sequence, 2);
    const auto box = [&](std::uint16_t seq) {
        return box_request(
            2, h.error_qmbx(), {130, 2, 0, 0, 0x08, 64, 70}, {{76, 79}, {101, 108}},
            {z("ERROR"), z("Box x"), z("OK"), button_answer(CMD_BOX_ANSWER, seq, BTN_OK),
             z("CANCEL"), button_answer(CMD_BOX_ANSWER, seq, BTN_CANCEL)});
    };
    EXPECT_EQ(h.box_requests(), (std::vector<Bytes>{box(1), box(2)}));

    // Every segment the task received, the strays among them, was given back.
    h.settle();
    EXPECT_EQ(h.live_segments(), 0u);
}

// An OK box is not awaited; the user's answer comes later to ERROR_MBX as command 618.
TEST_F(TaskBoxes, AnswerOfAnOkBoxGoesToErrorMbxAsCommand618) {
    h.command(CMD_UI_READY);
    EXPECT_EQ(result_of(h.report(kOk, "y")), 0);
    h.settle();  // the user's answer, command 618, reaches ERROR_MBX and is handled

    EXPECT_EQ(
        h.box_requests(),
        std::vector<Bytes>{box_request(
            2, h.error_mbx(), {101, 1, 0, 0, 0x08, 64, 70}, {{76, 79}},
            {z("ERROR"), z("Box y"), z("OK"), button_answer(CMD_ASYNC_BOX_ANSWER, 1, BTN_OK)})});
    // 618 is no unknown command (the console stays empty), and the API task hears nothing.
    EXPECT_TRUE(h.api_messages().empty());
    EXPECT_EQ(h.live_segments(), 0u);
}

// Marks, flags, titles and results of the other box kinds.
TEST_F(TaskBoxes, MarksFlagsAndResultsOfTheOtherKinds) {
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
    // No title, no text: nothing written after the head, yet the segment counts the text's zero.
    EXPECT_EQ(result_of(h.report(kEmptyText)), 0);
    h.settle();

    // Sequence numbers: abort 1, modal clear 2, auto box 3, no kind none, non-modal 4.
    const std::vector<Bytes> expected = {
        box_request(
            2, q, {104, 1, 0, 0xFFFF, 0x08, 64, 70}, {{76, 82}},
            {z("ERROR"), z("Box a"), z("ABORT"), button_answer(CMD_BOX_ANSWER, 1, BTN_ABORT)}),
        box_request(0, 0, {78, 0, 0, 0xFFFF, 0x08, 64, 72}, {}, {z("WARNING"), z("Box b")}),
        box_request(0, 0, {76, 0, 0, 0xFFFF, 0x0D, 64, 70}, {}, {z("ERROR"), z("Box c")}),
        // No title: the text stands at 64.
        box_request(0, 0, {70, 0, 0, 0, 0x09, 0, 64}, {}, {z("Box d")}),
        box_request(2, q, {129, 2, 1, 1, 0x0C, 0, 64}, {{70, 76}, {98, 107}},
                    {z("Box e"), z("ABORT"), button_answer(CMD_BOX_ANSWER, 4, BTN_ABORT),
                     z("CONTINUE"), button_answer(CMD_BOX_ANSWER, 4, BTN_CONTINUE)}),
        box_request(0, 0, {64, 0, 0, 0, 0x09, 0, 0}, {}, {Bytes{0}}),
    };
    EXPECT_EQ(h.box_requests(), expected);
    EXPECT_EQ(err::task_state().box_sequence, 4);
}

// Boxes switched off, an interface that is not ready, or a cleared ES_BOX send nothing.
TEST_F(TaskBoxes, BoxesOffOrInterfaceNotReadySendNothing) {
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
}

// In variant B a box shows text B without buttons, and the log gets text A.
TEST_F(TaskBoxes, VariantBShowsBoxesWithoutButtonsAndArchivesTextA) {
    h.command(CMD_UI_READY);
    h.command(CMD_VARIANT_B);
    // The kind's default answer, without waiting.
    EXPECT_EQ(result_of(h.report(kVariantB, "z")), BTN_OK);
    // A definition without a variant-B action shows nothing.
    EXPECT_EQ(result_of(h.report(kOkCancel, "z")), 0);
    h.settle();

    // The segment has room for the kind's buttons, but none is written.
    EXPECT_EQ(h.box_requests(),
              std::vector<Bytes>{box_request(0, 0, {76, 0, 0, 0xFFFF, 0x09, 64, 70}, {},
                                             {z("ERROR"), z("Bee z"), Bytes(3 + 22 + 7 + 22, 0)})});
    EXPECT_EQ(err::task_state().box_sequence, 1);
    EXPECT_EQ(texts(h.export_log(1)), Texts{"Aaa z"});
}

// A status text goes out in variant B only, for a user error with a text, cut to 30 characters.
TEST_F(TaskBoxes, StatusTextsGoOutInVariantBOnly) {
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

    // 53 bytes: the text cut to 30 characters.
    EXPECT_EQ(h.status_texts(),
              std::vector<Bytes>{concat({words({ERR_SENDER_ID, 2, h.error_qmbx(), 0xFFFF, 0xFFFF, 1,
                                                CMD_STATUS_TEXT, 41, 0, 0, 61}),
                                         z(std::string(kLongText, 30))})});
    // The acknowledgement was taken and given back.
    EXPECT_EQ(h.live_segments(), 0u);
}

// Action 17 shows the box, then notifies the API task whatever the answer, ending with 0.
TEST_F(TaskBoxes, ActionSeventeenShowsTheBoxThenNotifies) {
    h.command(CMD_UI_READY);
    h.choose_button(1);
    EXPECT_EQ(result_of(h.report(kBoxThenApi, "text$4")), 0);
    h.settle();
    ASSERT_EQ(h.box_requests().size(), 1u);
    EXPECT_EQ(get16(h.box_requests()[0], 12 + 20), 64);  // text at 64: no title
    EXPECT_EQ(
        h.api_messages(),
        std::vector<Bytes>{words({ERR_SENDER_ID, 2, h.error_mbx(), 0, 0, 1, CMD_API_NOTIFY, 24, 0,
                                  0, API_ERROR_ONE_PARAM, 0, 0, 0, 0, 0, 4, kBoxThenApi})});
}

}  // namespace
