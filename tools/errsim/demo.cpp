#include "demo.h"

namespace errsim {

const char* const kDemoScript =
    R"DEMO(# errsim demo: every path a user meets, from empty logs to both logs shown as tables.
# Print it with `errsim --print-demo`; run a copy with `errsim --script FILE`.

# The demo's own firmware module (number 5). Columns:
#   MODULE ID FLAGS ACTION_A ACTION_B "TEXT_A" "TEXT_B"|- "COMPONENT"|- KIND_A|- KIND_B|-
define 5 100 ARCHIVE           0  0  "Door %s open"                 "Door %s open"      "DOOR"    -            -
define 5 101 ARCHIVE|IEC_TEXT  12 13 "Pump %s: pressure %s bar"     "Pump %s: %s bar"   "PUMP"    mb_ok_cancel mb_ok_cancel
define 5 102 ARCHIVE|SHOW_ONCE 12 12 "Service interval reached"     -                   "SERVICE" mb_ok        -
define 5 103 ARCHIVE           16 16 "Sample %s rejected"           "Sample %s rejected" "SAMPLER" -            -
define 5 104 ARCHIVE           17 17 "Tray %s missing"              "Tray %s missing"   "TRAY"    mb_auto_box  -
define 5 105 ARCHIVE|IEC_TEXT  18 18 "Lid %s unlocked"              "Lid %s unlocked"   "LID"     -            -
define 5 106 ARCHIVE           13 13 "Lamp %s is aging"             "Lamp %s is aging"  "LAMP"    mb_abort_retry -
define 5 107 ARCHIVE           1  1  "Cover %s open: go on?"        -                   "COVER"   mb_nonmodal_abort_continue -
define 5 200 SYSTEM|ARCHIVE    12 12 "Motor %s stalled"             "Motor %s stalled"  "MOTOR"   mb_abort_continue -
define 5 201 SYSTEM|ARCHIVE    0  0  "Temperature %s: %s C"         -                   "THERMO"  -            -

echo "Start from empty logs"
erase user all
erase system all
ui ready

echo "A user error with two $-separated parameters goes into the user log"
report 100 "front"
report 101 "P1$3.2" reply
echo "That box was awaited: the user chose the first marked button, OK"
answer CANCEL
report 101 "P2$2.9" reply
echo "Now the user chose CANCEL: the reporter's answer carries code 4"

echo "A WARNING box with ABORT and RETRY; the user chooses RETRY"
answer RETRY
report 106 "L1" reply

echo "A box that is not modal, without a title; CONTINUE is its first marked button"
report 107 "C1" reply

echo "An asynchronous OK box (mb_ok): the task does not wait, the answer reaches ERROR_MBX as command 618"
report 102 reply
echo "102 is a show-once error: reported again, it is ignored (answer 0, nothing archived)"
report 102 reply

echo "Boxes without buttons: no answer is awaited"
report 104 "T3$5"
report 65010
report 65011
report 65012

echo "The awaited boxes of the module's own test errors (system errors, system log)"
report 65007 reply
report 65009 reply
report 65006 "" reply

echo "API notifications: action 16 with parameters 1 and 2 (after the last $), action 18"
report 103 "S7$1,2"
echo "Action 16 with a second parameter of 0: notified, but not archived"
report 103 "S8$1,0"
report 105 "L2$7"

echo "System errors: switched off they are ignored, switched on they are shown and archived"
system-errors off
report 200 "M1" reply
system-errors on
answer ABORT
report 200 "M1" reply
report 201 "T4$85"

echo "An error number that no table defines is archived in the system log"
report 4711 "$info"

echo "Message boxes switched off: the box kind's default answer, nothing shown"
boxes off
report 65009 reply
boxes on

echo "Variant B: B texts, boxes without buttons, texts of IEC_TEXT user errors to the status task"
variant b
report 101 "P3$4.1" reply
report 105 "L3$2"
variant a

echo "Error state: 100 switched off (ES_ENABLED cleared) is ignored, then switched on again"
state 100 0xFFFE 0
report 100 "rear" reply
state 100 0xFFFF 1

echo "Export the user log: this re-arms the show-once errors of the user log"
export user "\\LOG\\USERERR.ARC"
report 102 reply

echo "Erase two errors of the user log by record number"
erase user 1,2

echo "The user log runs full: the oldest error becomes the overflow record"
report 100 "D01"
report 100 "D02"
report 100 "D03"
report 100 "D04"
report 100 "D05"
report 100 "D06"
report 100 "D07"
report 100 "D08"
report 100 "D09"
report 100 "D10"
report 100 "D11"
report 100 "D12"
report 100 "D13"
report 100 "D14"
report 100 "D15"
report 100 "D16"
report 100 "D17"
report 100 "D18"
report 100 "D19"
report 100 "D20"

echo "An unknown command on ERROR_MBX is printed on the boot console"
cmd 602

echo "Export the system log, then both logs as tables"
export system "\\LOG\\SYSERR.ARC"
show user
show system
)DEMO";

}  // namespace errsim
