// The nine message-box kinds that an error definition may name. Each function returns the
// same static, constant description on every call.
#include "err/mb_kind.h"

namespace {

constexpr MbButton kOk = {"OK", BTN_OK};
constexpr MbButton kCancel = {"CANCEL", BTN_CANCEL};
constexpr MbButton kRetry = {"RETRY", BTN_RETRY};
constexpr MbButton kAbort = {"ABORT", BTN_ABORT};
constexpr MbButton kContinue = {"CONTINUE", BTN_CONTINUE};

constexpr MbKind kMbOk = {MBF_MODAL | MBF_ANSWER_TO_API, 1, BTN_OK, BTN_OK, {&kOk}};
constexpr MbKind kMbOkCancel = {MBF_MODAL, 2, BTN_OK, BTN_OK, {&kOk, &kCancel}};
constexpr MbKind kMbAbort = {MBF_MODAL, 1, 0, 0, {&kAbort}};
constexpr MbKind kMbAbortRetry = {MBF_MODAL, 2, 0, 0, {&kAbort, &kRetry}};
constexpr MbKind kMbAbortContinue = {
    MBF_MODAL, 2, BTN_CONTINUE, BTN_CONTINUE, {&kAbort, &kContinue}};
constexpr MbKind kMbNonmodalAbortContinue = {
    0, 2, BTN_CONTINUE, BTN_CONTINUE, {&kAbort, &kContinue}};
constexpr MbKind kMbAutoBox = {MBF_NO_BUTTONS, 0, 0, 0, {}};
constexpr MbKind kMbModalClearClose = {MBF_MODAL, 0, 0, 0, {}};
constexpr MbKind kMbClearClose = {0, 0, 0, 0, {}};

}  // namespace

extern "C" {

const MbKind* mb_ok(void) {
    return &kMbOk;
}
const MbKind* mb_ok_cancel(void) {
    return &kMbOkCancel;
}
const MbKind* mb_abort(void) {
    return &kMbAbort;
}
const MbKind* mb_abort_retry(void) {
    return &kMbAbortRetry;
}
const MbKind* mb_abort_continue(void) {
    return &kMbAbortContinue;
}
const MbKind* mb_nonmodal_abort_continue(void) {
    return &kMbNonmodalAbortContinue;
}
const MbKind* mb_auto_box(void) {
    return &kMbAutoBox;
}
const MbKind* mb_modal_clear_close(void) {
    return &kMbModalClearClose;
}
const MbKind* mb_clear_close(void) {
    return &kMbClearClose;
}

}  // extern "C"
