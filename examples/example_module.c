/* An example firmware module written in C (C99).
 *
 * It defines its own error table, registers it under its module number from its load-time
 * entry, and reports errors through EReportError, the Q_ contract checks and VX_ERROR. Build:
 * the example_module shared library; run it in the simulator with
 *     errsim --module build/lib/libexample_module.so --script examples/example.errsim
 * where the script calls the functions below with `module-call NAME`. */
#include <stddef.h>

#include "err/err.h"

/* The module number of this module: one of 0 to 19, not taken by another module
 * (1 is the error module's own table). */
#define EXAMPLE_MODULE 7

/* The error numbers of this module. */
enum {
    EX_E_SENSOR_RANGE = 7001, /* user error, two parameters, awaited OK/CANCEL box */
    EX_E_CALIBRATION = 7002,  /* user error, shown once, asynchronous OK box, status text */
    EX_E_CHECKSUM = 7003,     /* system error, archived only */
    EX_E_TRAY_EMPTY = 7004    /* user error, box without buttons, then the API task hears */
};

/* The table stays in memory and writable while it is registered: the error task writes the
 * state words in place. state is written 0 here; registration sets it. */
static ErrTableEntry example_errors[] = {
    {EX_E_SENSOR_RANGE, EF_ARCHIVE, 0, ACT_BOX_ERROR, ACT_BOX_WARNING,
     "Sensor %s reads %s, outside its range", "Sensor %s: %s out of range", "SENSOR", mb_ok_cancel,
     mb_ok_cancel},
    {EX_E_CALIBRATION, EF_ARCHIVE | EF_SHOW_ONCE | EF_IEC_TEXT, 0, ACT_BOX_WARNING, ACT_BOX_WARNING,
     "Calibration of %s is due", "Calibrate %s", "CALIB", mb_ok, mb_ok},
    {EX_E_CHECKSUM, EF_SYSTEM | EF_ARCHIVE, 0, ACT_NONE, ACT_NONE,
     "Board %s: checksum %s instead of %s", "Board %s: checksum error", "BOARD", NULL, NULL},
    {EX_E_TRAY_EMPTY, EF_ARCHIVE, 0, ACT_BOX_THEN_API, ACT_API_ONE, "Tray %s is empty",
     "Tray %s is empty", "TRAY", mb_auto_box, NULL},
    {ERR_TABLE_END, 0, 0, 0, 0, "END OF TABLE", NULL, NULL, NULL, NULL},
};

/* The load-time entry: runs when the firmware (or errsim --module) loads this library. */
__attribute__((constructor)) static void example_module_load(void) {
    E_RegisterErrorTable(EXAMPLE_MODULE, example_errors);
}

/* A measurement that finds its sensor out of range: "$" separates the text's parameters. */
void example_sensor_check(void) {
    EReportError(__FILE__, __LINE__, EX_E_SENSOR_RANGE, "S2$-12.5");
}

/* Reports with a text formatted in the shared format buffer. */
void example_board_check(void) {
    unsigned expected = 0xBEEFu, found = 0xBEAFu;
    EFormatLock();
    EReportError(__FILE__, __LINE__, EX_E_CHECKSUM, EFormat("B1$%04X$%04X", found, expected));
    EFormatUnlock();
}

/* A show-once error and an error whose action chain ends at the API task ("3" is the
 * parameter after the last "$"). */
void example_maintenance(void) {
    EReportError(__FILE__, __LINE__, EX_E_CALIBRATION, "pump head");
    EReportError(__FILE__, __LINE__, EX_E_CALIBRATION, "pump head"); /* ignored: shown once */
    EReportError(__FILE__, __LINE__, EX_E_TRAY_EMPTY, "T1$3");
}

/* Contract checks and a developer diagnostic: each reports error 2 of the error module
 * (component "QUALITY", system log). */
void example_contract_checks(void) {
    int channel = 9;
    Q_REQUIRE(channel < 8);
    Q_ASSERT(channel != 9);
    Q_ENSURE(channel == 0);
    Q_report_error(__FILE__, __LINE__, "channel %d out of range 0..%d", channel, 7);
    VX_ERROR("trace: channel %d, state %s", channel, "idle");
}

/* Everything above in one call. */
void example_run_all(void) {
    example_sensor_check();
    example_board_check();
    example_maintenance();
    example_contract_checks();
}
