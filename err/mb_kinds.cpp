// The nine message-box kinds that an error definition may name. Each function returns the
// same static, constant description on every call.
#include <cstdint>

#include "err/mb_kind.h"

namespace {

#define ERR_BUTTON(code, label) MbButton{label, code},
constexpr MbButton kButtons[] = {MB_BUTTON_LIST(ERR_BUTTON)};
#undef ERR_BUTTON

// The button of code: the list holds them in code order from BTN_OK.
constexpr const MbButton* button(std::uint16_t code) {
    return &kButtons[code - BTN_OK];
}
static_assert(sizeof kButtons / sizeof kButtons[0] == BTN_CONTINUE - BTN_OK + 1);
static_assert(button(BTN_OK)->code == BTN_OK && button(BTN_CANCEL)->code == BTN_CANCEL &&
              button(BTN_RETRY)->code == BTN_RETRY && button(BTN_ABORT)->code == BTN_ABORT &&
              button(BTN_CONTINUE)->code == BTN_CONTINUE);

constexpr const MbButton* kOk = button(BTN_OK);
constexpr const MbButton* kCancel = button(BTN_CANCEL);
constexpr const MbButton* kRetry = button(BTN_RETRY);
constexpr const MbButton* kAbort = button(BTN_ABORT);
constexpr const MbButton* kContinue = button(BTN_CONTINUE);

constexpr MbKind kMbOk = {MBF_MODAL | MBF_ANSWER_TO_API, 1, BTN_OK, BTN_OK, {kOk}};
constexpr MbKind kMbOkCancel = {MBF_MODAL, 2, BTN_OK, BTN_OK, {kOk, kCancel}};
constexpr MbKind kMbAbort = {MBF_MODAL, 1, 0, 0, {kAbort}};
constexpr MbKind kMbAbortRetry = {MBF_MODAL, 2, 0, 0, {kAbort, kRetry}};
constexpr MbKind kMbAbortContinue = {MBF_MODAL, 2, BTN_CONTINUE, BTN_CONTINUE, {kAbort, kContinue}};
constexpr MbKind kMbNonmodalAbortContinue = {0, 2, BTN_CONTINUE, BTN_CONTINUE, {kAbort, kContinue}};
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

namespace {

// Every name of the kind list is one of the nine functions above.
#define ERR_KIND(name) name,
[[maybe_unused]] constexpr MbKindFunction kListedKinds[] = {MB_KIND_LIST(ERR_KIND)};
#undef ERR_KIND
static_assert(sizeof kListedKinds / sizeof kListedKinds[0] == 9);

}  // namespace
