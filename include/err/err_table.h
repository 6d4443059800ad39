/* Error tables and their registry.
 *
 * A firmware module describes its errors in a static, writable array of ErrTableEntry ended
 * by an entry whose id is ERR_TABLE_END, and registers it under its module number (0 to 19)
 * from its load-time entry. The registry keeps only a pointer: the table must stay in memory
 * while it is registered, and the error task writes the state words in place.
 *
 * Layout (firmware ABI): 30 bytes, packed, little-endian, with 32-bit pointers:
 *   0 id, 2 flags, 4 state, 6 action_a, 8 action_b (u16 each),
 *   10 text_a, 14 text_b, 18 component, 22 mb_kind_a, 26 mb_kind_b (pointers).
 * On a 64-bit host the fields keep their order with native pointer width. */
#ifndef ERR_ERR_TABLE_H
#define ERR_ERR_TABLE_H

#include <stdint.h>

#include "err/err_api.h"
#include "err/mb_kind.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ERR_TABLE_END 0xFFFFu /* id of the entry that ends a table */
#define ERR_MODULE_COUNT 20   /* module numbers 0 to 19 */

/* Bits of ErrTableEntry.flags: fixed properties, written in the table's source. */
#define EF_SYSTEM 0x01    /* system error: system log; handled only while system errors are on */
#define EF_ARCHIVE 0x02   /* archived in its log (together with ES_ARCHIVE) */
#define EF_SHOW_ONCE 0x04 /* handled once, then ignored until re-armed */
#define EF_IEC_TEXT 0x08  /* variant B: a user error's text goes to the status task */
#define EF_ALL (EF_SYSTEM | EF_ARCHIVE | EF_SHOW_ONCE | EF_IEC_TEXT) /* every flag bit */
/* The flags by name without their prefix, X(SYSTEM) standing for EF_SYSTEM, for code that
 * names them. */
#define EF_FLAG_LIST(X) X(SYSTEM) X(ARCHIVE) X(SHOW_ONCE) X(IEC_TEXT)

/* Bits of ErrTableEntry.state: run-time switches, all set (ES_ALL) at registration. */
#define ES_ENABLED 0x01
#define ES_BOX 0x02
#define ES_ARCHIVE 0x04
#define ES_IEC_TEXT 0x08
#define ES_NOT_SHOWN 0x10
#define ES_ALL 0x1F

/* Action codes of the action chain. The working action is action_b while variant B is in
 * force, else action_a. Actions 16, 17 and 18 take their parameters from the report's info
 * text: the characters after its last "$" (the whole text when it has none), each one
 * character minus '0', so a single digit ("12" is 1, not twelve):
 *   16: the first character, and the third one (the second is a separator and is not read);
 *       a character that is missing counts as 0. With EF_ARCHIVE an error whose working
 *       action is 16 is archived only when that second digit is not 0: "1,1" is archived,
 *       "1,0" and "1" are not (unless command 619 asked to archive all). errtable points
 *       such an entry out as a note.
 *   17, 18: the first character, 0 for an empty text.
 * At the error task's start the switches are: system errors on, message boxes on, variant A,
 * the user interface not ready (no box is shown until command 606), archive all off. */
#define ACT_NONE 0
#define ACT_BOX 1           /* message box without a title */
#define ACT_STOP 2          /* ends the chain with result 2 */
#define ACT_API_TWO 10      /* API notification with two parameters */
#define ACT_BOX_ERROR 12    /* message box titled "ERROR" */
#define ACT_BOX_WARNING 13  /* message box titled "WARNING" */
#define ACT_API_TWO_INFO 16 /* API notification, parameters from the info text */
#define ACT_BOX_THEN_API 17 /* box without title, then API notification with one parameter */
#define ACT_API_ONE 18      /* API notification with one parameter */

#if defined(_MSC_VER)
#pragma pack(push, 1)
#define ERR_PACKED
#else
#define ERR_PACKED __attribute__((packed))
#endif

typedef struct ERR_PACKED ErrTableEntry {
    uint16_t id;              /* error number; ERR_TABLE_END ends the table */
    uint16_t flags;           /* EF_ bits */
    uint16_t state;           /* ES_ bits; write 0 in the source, registration sets ES_ALL */
    uint16_t action_a;        /* first action code in variant A */
    uint16_t action_b;        /* first action code in variant B */
    const char* text_a;       /* text in variant A; "%s" places take "$"-separated info parts */
    const char* text_b;       /* text in variant B */
    const char* component;    /* component written into the log, or null */
    MbKindFunction mb_kind_a; /* message-box kind in variant A, or null */
    MbKindFunction mb_kind_b; /* message-box kind in variant B, or null */
} ErrTableEntry;

#if defined(_MSC_VER)
#pragma pack(pop)
#endif

/* Registers table under module (0 to 19) and sets the state of every entry before the end
 * entry to ES_ALL. Refuses, with a console text, a module number of 20 or more, an occupied
 * slot (the first table stays) and a null table. The table stays the caller's, and while it
 * is registered its numbers (the id fields) and its end entry stay as they are: the error
 * task keeps the definition it found for a number until a table is registered or removed, so
 * an id written in place may go unseen. To renumber, remove the table (E_RemoveErrorTable),
 * change it and register it again. Only the error task writes the state words. */
ERR_API void E_RegisterErrorTable(uint16_t module, ErrTableEntry* table);

/* The definition of error number id: the lowest module number wins, and within a table the
 * first entry. Searching ERR_TABLE_END finds the end entry of the lowest registered table.
 * Null when no registered table has the number. */
ERR_API ErrTableEntry* E_FindErrTablebyId(uint16_t id);

/* Empties the slot of module (the table itself is not touched). */
ERR_API void E_RemoveErrorTable(uint16_t module);

/* Sets ES_NOT_SHOWN again in every registered system error (selector 0) or user error
 * (any other selector), re-arming show-once errors. */
ERR_API void E_enable_show_once_flag(int32_t selector);

#ifdef __cplusplus
}
#endif

#endif
