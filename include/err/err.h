/* Everything a firmware module needs from ERR. */
#ifndef ERR_ERR_H
#define ERR_ERR_H

#include "err/err_table.h"
#include "err/mb_kind.h"
#include "err/protocol.h"
#include "err/report.h"

#endif
