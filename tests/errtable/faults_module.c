/* A firmware module whose tables hold the faults that only a module's own code can have
 * (errtable's test): a box kind of its own whose answers are action codes, a kind function
 * that yields no kind, a module number out of range, a module number given twice, a null
 * table, and a number of the error module's own table under module 0. */
#include <stddef.h>

#include "err/err.h"

static const MbButton ok_button = {"OK", BTN_OK};
static const MbButton go_button = {"GO", ACT_BOX_ERROR};
static const MbKind chain_kind = {MBF_MODAL, 2, ACT_BOX_WARNING, 0, {&ok_button, &go_button}};
/* button_count 3 with only two buttons: the absent third ends them. */
static const MbKind short_kind = {MBF_MODAL, 3, BTN_OK, 0, {&ok_button, NULL, &go_button}};

static const MbKind* chain_box(void) {
    return &chain_kind;
}
static const MbKind* short_box(void) {
    return &short_kind;
}
static const MbKind* no_kind(void) {
    return NULL;
}

static ErrTableEntry module5[] = {
    {5001, EF_ARCHIVE, 0, ACT_BOX_ERROR, ACT_NONE, "chained", NULL, NULL, chain_box, NULL},
    {5002, EF_ARCHIVE, 0, ACT_BOX, ACT_NONE, "no kind", NULL, NULL, no_kind, NULL},
    {5003, EF_ARCHIVE, 0, ACT_BOX, ACT_NONE, "clean", NULL, NULL, short_box, NULL},
    {ERR_TABLE_END, 0, 0, 0, 0, NULL, NULL, NULL, NULL, NULL}};
static ErrTableEntry module5_again[] = {
    {5101, EF_ARCHIVE, 0, ACT_NONE, ACT_NONE, "taken", NULL, NULL, NULL, NULL},
    {ERR_TABLE_END, 0, 0, 0, 0, NULL, NULL, NULL, NULL, NULL}};
static ErrTableEntry module20[] = {
    {2001, EF_ARCHIVE, 0, 99, ACT_NONE, "out of range", NULL, NULL, NULL, NULL},
    {ERR_TABLE_END, 0, 0, 0, 0, NULL, NULL, NULL, NULL, NULL}};
static ErrTableEntry module0[] = {
    {ERR_QUALITY, EF_SYSTEM, 0, ACT_NONE, ACT_NONE, "mine", NULL, NULL, NULL, NULL},
    {ERR_TABLE_END, 0, 0, 0, 0, NULL, NULL, NULL, NULL, NULL}};

__attribute__((constructor)) static void faults_module_load(void) {
    E_RegisterErrorTable(5, module5);
    E_RegisterErrorTable(20, module20);
    E_RegisterErrorTable(5, module5_again);
    E_RegisterErrorTable(6, NULL);
    E_RegisterErrorTable(0, module0);
}
