/* A firmware module written in C99 against the public headers: defines an error table with a
 * box kind, registers it, finds its entries and removes it; and walks the nine box kinds as a
 * module may: the first button_count buttons of each are buttons, the rest null. Exit status 0
 * when that holds. */
#include <err/err.h>

#include <stddef.h>

/* The table record has the firmware layout when pointers are 32 bits wide. */
typedef char
    err_table_entry_is_30_bytes[(sizeof(void*) != 4 || sizeof(ErrTableEntry) == 30) ? 1 : -1];

static ErrTableEntry module_table[] = {{7001, EF_SYSTEM | EF_ARCHIVE, 0, ACT_BOX_ERROR, ACT_NONE,
                                        "pump %s stalled", "pump %s stalled", "PUMP", mb_ok, NULL},
                                       {ERR_TABLE_END, 0, 0, 0, 0, NULL, NULL, NULL, NULL, NULL}};

#define KIND(name) name,
static MbKindFunction const kinds[] = {MB_KIND_LIST(KIND)};

int main(void) {
    int ok = 1;
    size_t k, b;
    for (k = 0; k < sizeof kinds / sizeof kinds[0]; ++k)
        for (b = 0; b < MB_KIND_MAX_BUTTONS; ++b)
            ok = ok && (b < kinds[k]()->button_count) == (kinds[k]()->buttons[b] != NULL);
    E_RegisterErrorTable(7, module_table);
    ok = ok && E_FindErrTablebyId(7001) == &module_table[0] && module_table[0].state == ES_ALL &&
         E_FindErrTablebyId(ERR_QUALITY) != NULL &&
         module_table[0].mb_kind_a()->buttons[0]->code == BTN_OK;
    E_RemoveErrorTable(7);
    return ok && E_FindErrTablebyId(7001) == NULL && CMD_REPORT_ERROR == 601 ? 0 : 1;
}
