/* A firmware module written in C99 against the public headers: defines an error table,
 * registers it and finds its entries. Exit status 0 when everything holds. */
#include <err/err.h>

#include <stdio.h>
#include <string.h>

/* The table record has the firmware layout when pointers are 32 bits wide. */
typedef char
    err_table_entry_is_30_bytes[(sizeof(void*) != 4 || sizeof(ErrTableEntry) == 30) ? 1 : -1];

static ErrTableEntry module_table[] = {
    {7001, EF_SYSTEM | EF_ARCHIVE, 0, ACT_BOX_ERROR, ACT_NONE, "pump %s stalled", "pump %s stalled",
     "PUMP", mb_ok, NULL},
    {7002, EF_SHOW_ONCE, 0, ACT_NONE, ACT_NONE, "door open", "door open", NULL, NULL, NULL},
    {ERR_TABLE_END, 0, 0, 0, 0, NULL, NULL, NULL, NULL, NULL}};

static int failures = 0;

static void check(int ok, const char* what) {
    if (!ok) {
        printf("FAILED: %s\n", what);
        ++failures;
    }
}

int main(void) {
    ErrTableEntry* entry;
    const MbKind* kind;

    E_RegisterErrorTable(7, module_table);
    entry = E_FindErrTablebyId(7001);
    check(entry == &module_table[0], "7001 found in its table");
    check(entry != NULL && entry->state == ES_ALL, "state set at registration");
    check(entry != NULL && strcmp(entry->component, "PUMP") == 0, "component");
    check(E_FindErrTablebyId(7002) == &module_table[1], "7002 found");
    check(E_FindErrTablebyId(7003) == NULL, "7003 not defined");

    entry = E_FindErrTablebyId(ERR_QUALITY);
    check(entry != NULL && strcmp(entry->component, "QUALITY") == 0, "own table loaded");

    kind = module_table[0].mb_kind_a();
    check(kind->button_count == 1 && kind->buttons[0]->code == BTN_OK, "mb_ok kind");

    E_RemoveErrorTable(7);
    check(E_FindErrTablebyId(7001) == NULL, "removed");

    check(CMD_REPORT_ERROR == 601 && REPORT_SEGMENT_SIZE == 232, "protocol constants");
    return failures == 0 ? 0 : 1;
}
