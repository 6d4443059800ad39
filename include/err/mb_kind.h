/* Message-box kinds that an error definition may name.
 *
 * A definition's mb_kind_a / mb_kind_b field points to one of the nine mb_ functions below.
 * Each returns the same static, constant description on every call. */
#ifndef ERR_MB_KIND_H
#define ERR_MB_KIND_H

#include <stdint.h>

#include "err/err_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Answer codes of the buttons. */
#define BTN_OK 3
#define BTN_CANCEL 4
#define BTN_RETRY 5
#define BTN_ABORT 6
#define BTN_CONTINUE 7

/* The buttons with their captions, X(code, label) for each in code order, for code that lists
 * them (the kinds below take their buttons from it). */
#define MB_BUTTON_LIST(X)   \
    X(BTN_OK, "OK")         \
    X(BTN_CANCEL, "CANCEL") \
    X(BTN_RETRY, "RETRY")   \
    X(BTN_ABORT, "ABORT")   \
    X(BTN_CONTINUE, "CONTINUE")

/* Bits of MbKind.flags. */
#define MBF_NO_BUTTONS 0x01    /* shown without buttons; the answer is default_code */
#define MBF_PASS_THROUGH 0x02  /* copied unchanged into the box request's flags */
#define MBF_MODAL 0x04         /* the box is modal */
#define MBF_ANSWER_TO_API 0x08 /* answer arrives later on ERROR_MBX as command 618 */

#define MB_KIND_MAX_BUTTONS 4

typedef struct MbButton {
    const char* label; /* caption */
    uint16_t code;     /* answer code the button stands for (BTN_...) */
} MbButton;

typedef struct MbKind {
    uint16_t flags;        /* MBF_ bits */
    uint16_t button_count; /* buttons used; a null entry in buttons ends them early */
    uint16_t default_code; /* answer when nobody is asked; first marked button */
    uint16_t second_code;  /* second marked button */
    const MbButton* buttons[MB_KIND_MAX_BUTTONS];
} MbKind;

/* The type of the mb_kind_a / mb_kind_b fields of an error definition. */
typedef const MbKind* (*MbKindFunction)(void);

ERR_API const MbKind* mb_ok(void);             /* OK; modal; answer goes to the API task */
ERR_API const MbKind* mb_ok_cancel(void);      /* OK, CANCEL; modal; awaited */
ERR_API const MbKind* mb_abort(void);          /* ABORT; modal; awaited */
ERR_API const MbKind* mb_abort_retry(void);    /* ABORT, RETRY; modal; awaited */
ERR_API const MbKind* mb_abort_continue(void); /* ABORT, CONTINUE; modal; awaited; default 7 */
ERR_API const MbKind* mb_nonmodal_abort_continue(void); /* as above, not modal */
ERR_API const MbKind* mb_auto_box(void);                /* no buttons */
ERR_API const MbKind* mb_modal_clear_close(void);       /* no buttons, modal */
ERR_API const MbKind* mb_clear_close(void);             /* every field zero */

/* The nine kinds above, X(name) for each in the order above, for code that names them. */
#define MB_KIND_LIST(X)           \
    X(mb_ok)                      \
    X(mb_ok_cancel)               \
    X(mb_abort)                   \
    X(mb_abort_retry)             \
    X(mb_abort_continue)          \
    X(mb_nonmodal_abort_continue) \
    X(mb_auto_box)                \
    X(mb_modal_clear_close)       \
    X(mb_clear_close)

#ifdef __cplusplus
}
#endif

#endif
