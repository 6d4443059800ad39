#!/bin/bash
# A script case for ctest: tests/cases/NAME.errsim runs under errsim in a fresh folder, and
# NAME.out holds what it gave: stdout (dates and times masked), "--- stderr" and stderr if
# any, "--- exit N", then for each after-command "--- $ COMMAND", its output (stdout and
# stderr, masked) and "--- exit N" when not 0. Comment lines of the script:
#   #! ARGS     more errsim arguments (words; after --script NAME.errsim)
#   #< COMMAND  a shell command run before errsim (e.g. to put a damaged log in place)
#   #> COMMAND  a shell command run after errsim
# The commands run in the case's folder with $errsim, $errlog, $errtable (EMULATOR, e.g.
# qemu-i386 for the 32-bit build, in front when set), $cases, $lib (the firmware modules),
# $examples, and `at FILE RECORD OFFSET`, which writes stdin over a log file's bytes at OFFSET
# of RECORD (0: the header). With ERRSIM_TOOLS_UPDATE=1 NAME.out is written instead (review it).
#   errsim_tools.sh errsim_case_NAME BIN_DIR LIB_DIR CASES_DIR
test_name=$1
name=${1#errsim_case_}
cases=$(cd "$4" && pwd)
lib=$(cd "$3" && pwd)
examples=$cases/../../examples
source "$(dirname "$0")/tools_common.sh"
for tool in errsim errlog errtable; do
    export "$tool=${EMULATOR:+$EMULATOR }$2/$tool"
done
export cases lib examples
at() { dd of="$1" bs=1 seek=$((($2 > 0) * (373 + ($2 - 1) * 619) + $3)) conv=notrunc status=none; }
export -f at
cp "$cases/$name.errsim" .
while IFS= read -r line; do
    bash -c "$line" >>setup.txt 2>&1 || fail "set-up failed: $line: $(cat setup.txt)"
done < <(sed -n 's/^#< //p' "$name.errsim")
read -r -a args < <(sed -n 's/^#! //p' "$name.errsim" | tr '\n' ' ')
$errsim --script "$name.errsim" "${args[@]}" >out.txt 2>err.txt
rc=$?
{
    mask out.txt
    if [ -s err.txt ]; then echo "--- stderr" && cat err.txt; fi
    echo "--- exit $rc"
    while IFS= read -r line; do
        echo "--- \$ $line"
        bash -c "$line" >after.txt 2>&1
        after_rc=$?
        mask after.txt
        [ $after_rc = 0 ] || echo "--- exit $after_rc"
    done < <(sed -n 's/^#> //p' "$name.errsim")
} >case.txt
if [ "${ERRSIM_TOOLS_UPDATE:-0}" = 1 ]; then cp case.txt "$cases/$name.out"; fi
diff -u "$cases/$name.out" case.txt || fail "output differs from $name.out"
finish
