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

int main(void) {
    const ErrTableEntry* own;
    int ok;

    E_RegisterErrorTable(7, module_table);
    own = E_FindErrTablebyId(ERR_QUALITY);
    ok = E_FindErrTablebyId(7001) == &module_table[0] && module_table[0].state == ES_ALL &&
         E_FindErrTablebyId(7002) == &module_table[1] && E_FindErrTablebyId(7003) == NULL &&
         own != NULL && strcmp(own->component, "QUALITY") == 0 &&
         module_table[0].mb_kind_a()->buttons[0]->code == BTN_OK;
    E_RemoveErrorTable(7);
    ok = ok && E_FindErrTablebyId(7001) == NULL && CMD_REPORT_ERROR == 601 &&
         REPORT_SEGMENT_SIZE == 232;
    if (!ok) printf("FAILED: the module's table, its lookups or the protocol constants\n");
    return ok ? 0 : 1;
}
