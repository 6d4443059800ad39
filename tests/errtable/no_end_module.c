/* A firmware module whose table lacks its end entry (errtable's test). */
#include <stddef.h>

#include "err/err.h"

static ErrTableEntry no_end[] = {
    {8001, EF_ARCHIVE, 0, ACT_NONE, ACT_NONE, "first", NULL, NULL, NULL, NULL},
    {8002, EF_ARCHIVE, 0, ACT_NONE, ACT_NONE, "second", NULL, NULL, NULL, NULL}};

__attribute__((constructor)) static void no_end_module_load(void) {
    E_RegisterErrorTable(8, no_end);
}
