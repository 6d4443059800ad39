#!/bin/bash
# Tool runs of errsim and errlog for ctest: each case runs the tools in a fresh folder and
# compares stdout with an expected file (dates and times masked), and exit statuses and
# stderr exactly.
#   errsim_tools.sh CASE BIN_DIR LIB_DIR DATA_DIR
set -u
case_name=$1
bin=$2
lib=$3
data=$4
errsim=$bin/errsim
errlog=$bin/errlog

work=$(mktemp -d "${TMPDIR:-/tmp}/errsim_tools.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failed=0

fail() {
    echo "FAIL ($case_name): $*"
    failed=1
}
# run CMD...: stdout to out.txt, stderr to err.txt, status to $rc. EMULATOR (qemu-i386 for
# the 32-bit build on kernels that cannot run it) prefixes the command when set.
run() {
    ${EMULATOR:-} "$@" >out.txt 2>err.txt
    rc=$?
}
mask() {
    sed -E 's/[0-9]{2}\.[A-Z]{3}\.[0-9]{2}/DD.MMM.YY/g; s/[0-9]{2}:[0-9]{2}:[0-9]{2}/HH:MM:SS/g' "$1"
}
expect_rc() {
    [ "$rc" = "$1" ] || fail "exit status $rc, expected $1; stderr: $(cat err.txt)"
}
# With ERRSIM_TOOLS_UPDATE=1 the expected files are written instead (review the diff!).
expect_out() {
    mask out.txt >masked.txt
    if [ "${ERRSIM_TOOLS_UPDATE:-0}" = 1 ]; then cp masked.txt "$data/$1"; fi
    diff -u "$data/$1" masked.txt >diff.txt || { fail "stdout differs from $1"; cat diff.txt; }
}
expect_out_text() {
    printf '%s' "$1" >want.txt
    mask out.txt >masked.txt
    cmp -s want.txt masked.txt || { fail "stdout differs"; diff -u want.txt masked.txt; }
}
expect_err_text() {
    printf '%s' "$1" >want.txt
    cmp -s want.txt err.txt || { fail "stderr differs"; diff -u want.txt err.txt; }
}
# The same without masking dates and times.
expect_out_raw() {
    if [ "${ERRSIM_TOOLS_UPDATE:-0}" = 1 ]; then cp out.txt "$data/$1"; fi
    diff -u "$data/$1" out.txt >diff.txt || { fail "stdout differs from $1"; cat diff.txt; }
}
# Stdout must parse as JSON: one value, or with --lines one object a line.
expect_json() {
    ${EMULATOR:-} "$bin/json_lines" "$@" <out.txt || fail "stdout is not JSON ($*)"
}
# stamp LOG RECORD DATE TIME: sets a record's date and time fields in place.
stamp() {
    local at=$((373 + ($2 - 1) * 619))
    printf '%s' "$3" | dd of="$1" bs=1 seek=$((at + 381)) conv=notrunc 2>/dev/null
    printf '%s' "$4" | dd of="$1" bs=1 seek=$((at + 417)) conv=notrunc 2>/dev/null
}
same_file() {
    cmp "$1" "$2" || fail "$1 and $2 differ"
}

case "$case_name" in
errsim_basic)
    run "$errsim" --script "$data/basic.errsim"
    expect_rc 0
    expect_out basic.out
    [ -f errsim-root/TARNBOOT.INI ] || fail "no TARNBOOT.INI"
    ;;
errsim_second_run)
    run "$errsim" --script "$data/basic.errsim" --quiet
    expect_rc 0
    run "$errsim" --script - <"$data/second.errsim"
    expect_rc 0
    expect_out second.out
    ;;
errsim_script_error)
    run "$errsim" --script "$data/bad.errsim"
    expect_rc 2
    expect_out_text ""
    expect_err_text $'errsim: script line 5: unknown command \'repot\'\n'
    [ ! -e errsim-root ] || fail "the root was created before the script was checked"
    run "$errsim" --check --script "$data/basic.errsim"
    expect_rc 0
    run "$errsim" --no-such-option
    expect_rc 2
    run "$errsim" --script missing.errsim
    expect_rc 2
    expect_err_text $'errsim: cannot read script missing.errsim\n'
    ;;
errsim_demo)
    run "$errsim" --root ./demo-root
    expect_rc 0
    expect_out demo.out
    run "$errlog" verify demo-root/LOG/USERERR.LOG
    expect_rc 0
    run "$errlog" verify demo-root/LOG/SYSERR.LOG
    expect_rc 0
    ;;
errsim_interactive)
    # The buttons typed: 2 (CANCEL), Enter (the queued RETRY), x (no such button) then 1
    # (ABORT), and end of input (the first marked button, OK).
    run "$errsim" --interactive --quiet --script "$data/interactive.errsim" <<<$'2\n\nx\n1'
    expect_rc 0
    expect_out interactive.out
    grep -q '^|   2) CANCEL$' err.txt || fail "box 1 not drawn"
    grep -q 'no such button: x' err.txt || fail "a wrong choice was not refused"
    ;;
errsim_module)
    run "$errsim" --module "$lib/libexample_module.so" --script "$data/../../../examples/example.errsim"
    expect_rc 0
    expect_out module.out
    run "$errsim" --module "$lib/no-such-module.so" --script "$data/second.errsim"
    expect_rc 1
    run "$errsim" --module "$lib/libexample_module.so" --script - <<<"module-call example_nothing"
    expect_rc 2
    expect_err_text $'errsim: script line 1: module-call: no function \'example_nothing\' in the loaded modules\n'
    ;;
errsim_corrupt_log)
    run "$errsim" --script "$data/basic.errsim" --quiet
    expect_rc 0
    # Lose the last 100 bytes of the user log: the next start replaces it and keeps a .BAK.
    head -c 15748 errsim-root/LOG/USERERR.LOG >cut.LOG && mv cut.LOG errsim-root/LOG/USERERR.LOG
    run "$errsim" --script "$data/second.errsim"
    expect_rc 0
    expect_out corrupt.out
    run "$errlog" verify errsim-root/LOG/USERERR.BAK
    expect_rc 1
    expect_out_text $'errsim-root/LOG/USERERR.BAK: corrupt: rule 2: length field mismatch: the header says 15848 bytes, the file has 15748\n'
    run "$errlog" salvage errsim-root/LOG/USERERR.BAK
    expect_rc 0
    expect_out salvage.out
    # The logs' places by the module's own rule: a configured path ends at any white space (a
    # vertical tab here), and a key without a word switches its log off (the task suspends), so
    # the corrupt files after the tab and at the default place are none of the task's concern.
    mkdir -p paths/LOG && echo x >paths/LOG/USERERR.LOG && echo x >$'paths/LOG/SYS.LOG\vrest'
    printf '[ErrorTask]\nSystemLogFile=\\LOG\\SYS.LOG\vrest\nUserLogFile=\\LOG\\U.LOG\n' \
        >paths/TARNBOOT.INI
    run "$errsim" --root paths --quiet --script - <<<"show system"
    expect_rc 0
    expect_out_text $'log SYSTEM: 0 errors, 0 new, no overflow, 25 free\n  rec  code   date       time      component        source                text\n  (no errors)\n'
    printf '[ErrorTask]\nUserLogFile= \n' >paths/TARNBOOT.INI
    run "$errsim" --root paths --quiet --script - <<<"sync"
    expect_rc 1
    expect_out_text ""
    ;;
errsim_storm)
    # Reports from several threads at once: every one archived (the log runs over), none lost.
    printf '%s\n' 'define 7 7001 ARCHIVE 0 0 "Pump %s" - "PUMP" - -' \
        'storm 7001 300 threads=4 "P1"' 'storm 7001 2' >storm.errsim
    run "$errsim" --script storm.errsim --quiet
    expect_rc 0
    expect_out_text $'errsim: wrote default ./errsim-root/TARNBOOT.INI\nstorm id=7001 sent=300 dropped=0\nstorm id=7001 sent=2 dropped=0\n'
    run "$errlog" show errsim-root/LOG/USERERR.LOG --jsonl
    [ "$(grep -c '"code":7001' out.txt)" = 24 ] || fail "the log does not hold 24 storm errors"
    run "$errsim" --script storm.errsim --quiet --timing
    grep -Eq '^storm id=7001 sent=300 dropped=0 seconds=[0-9]+\.[0-9]{3} reports-per-second=[0-9]+$' out.txt ||
        fail "no timing on the storm line: $(cat out.txt)"
    run "$errsim" --script - <<<'storm 7001 5 threads=0'
    expect_rc 2
    expect_err_text $'errsim: script line 1: storm: threads= 0 out of range (1 to 64)\n'
    ;;
errlog_cli)
    run "$errsim" --script "$data/basic.errsim" --quiet
    expect_rc 0
    log=errsim-root/LOG/USERERR.LOG
    cp "$log" before.LOG
    run "$errlog" verify "$log"
    expect_rc 0
    expect_out_text $'errsim-root/LOG/USERERR.LOG: valid: 9 errors, no overflow\n'
    run "$errlog" show "$log"
    expect_rc 0
    expect_out show.out
    run "$errlog" show --json "$log"
    expect_rc 0
    expect_out show.json
    # errlog's archive file is the one the error task writes from the same log.
    run "$errlog" export "$log" errlog.ARC
    expect_rc 0
    same_file before.LOG "$log"
    run "$errsim" --script "$data/check_export.errsim" --quiet
    expect_rc 0
    same_file errlog.ARC errsim-root/LOG/CHECK.ARC
    # A corrupt log: verify says which rule breaks; show and export refuse it.
    cp before.LOG loop.LOG
    printf '010' | dd of=loop.LOG bs=1 seek=$((373 + 9 * 619 + 165)) conv=notrunc 2>/dev/null
    run "$errlog" verify loop.LOG
    expect_rc 1
    expect_out_text $'loop.LOG: corrupt: rule 4: record 10 met twice in the error chain walked back from the newest error: the chain loops (check 1)\n'
    run "$errlog" verify --json loop.LOG
    expect_rc 1
    expect_out verify_corrupt.json
    run "$errlog" show loop.LOG
    expect_rc 1
    expect_out_text ""
    expect_err_text $'errlog: loop.LOG is corrupt: rule 4: record 10 met twice in the error chain walked back from the newest error: the chain loops (check 1)\n'
    run "$errlog" export loop.LOG x.ARC
    expect_rc 1
    [ ! -e x.ARC ] || fail "export wrote an archive of a corrupt log"
    run "$errlog" salvage --json --archive salvaged.ARC loop.LOG
    expect_rc 0
    expect_out salvage.json
    [ "$(head -c 3 salvaged.ARC)" = 009 ] || fail "salvaged archive head"
    # create, usage and file errors
    run "$errlog" create new.LOG
    expect_rc 0
    run "$errlog" verify new.LOG
    expect_rc 0
    expect_out_text $'new.LOG: valid: 0 errors, no overflow\n'
    run "$errlog" create new.LOG
    expect_rc 2
    expect_err_text $'errlog: new.LOG exists (use --force to replace it)\n'
    run "$errlog" create --force new.LOG
    expect_rc 0
    run "$errlog" verify missing.LOG
    expect_rc 2
    expect_err_text $'errlog: cannot read missing.LOG: No such file or directory\n'
    run "$errlog"
    expect_rc 2
    run "$errlog" show
    expect_rc 2
    ;;
errlog_merge)
    run "$errsim" --script "$data/basic.errsim" --quiet
    expect_rc 0
    # Two instruments' user logs (the same 9 errors, chain 2 10 9 8 7 6 5 4 3 newest first)
    # with interleaved times, a corrupt log and an archive file beside them.
    mkdir -p fleet/inst1 fleet/inst2 empty
    cp errsim-root/LOG/USERERR.LOG fleet/inst1/USERERR.LOG
    cp errsim-root/LOG/USERERR.LOG fleet/inst2/user.log
    cp errsim-root/LOG/U.ARC fleet/inst1/U.ARC
    head -c 15000 errsim-root/LOG/USERERR.LOG >fleet/inst2/broken.LOG
    a=(40 38 36 34 32 30 28 26 24)
    b=(40 37 35 33 -- 29 27 25 23)  # equal newest times: the log given first goes first
    i=0
    for rec in 2 10 9 8 7 6 5 4 3; do
        stamp fleet/inst1/USERERR.LOG "$rec" 01.JAN.26 "10:00:${a[$i]}"
        if [ "${b[$i]}" = -- ]; then  # no readable date: out as soon as it is next in its log
            stamp fleet/inst2/user.log "$rec" DD.MMM.YY HH:MM:SS
        else
            stamp fleet/inst2/user.log "$rec" 01.JAN.26 "10:00:${b[$i]}"
        fi
        i=$((i + 1))
    done
    run "$errlog" show fleet
    expect_rc 1
    expect_out merge.out
    expect_err_text $'errlog: fleet/inst2/broken.LOG is corrupt: rule 2: length field mismatch: the header says 15848 bytes, the file has 15000\n'
    run "$errlog" show --jsonl fleet/inst1/USERERR.LOG fleet/inst2/user.log
    expect_rc 0
    expect_out_raw merge.jsonl
    expect_json --lines
    run "$errlog" show --json fleet/inst1/USERERR.LOG fleet/inst2/user.log
    expect_rc 0
    expect_json
    [ "$(grep -c '"file": "fleet/inst' out.txt)" = 2 ] || fail "show --json of two logs"
    run "$errlog" show empty
    expect_rc 2
    expect_err_text $'errlog: no .log files in empty\n'
    ;;
errtable_check)
    errtable=$bin/errtable
    # Tables with one fault an entry, from a script and from modules; locations name the
    # files as given.
    cp "$data/../errtable/faults.errsim" "$lib/liberrtable_faults_module.so" \
        "$lib/liberrtable_no_end_module.so" .
    run "$errtable" check --script faults.errsim
    expect_rc 1
    expect_out ../errtable/faults.out
    run "$errtable" check --module liberrtable_faults_module.so --module liberrtable_no_end_module.so
    expect_rc 1
    expect_out ../errtable/modules.out
    run "$errtable" check --json --module liberrtable_no_end_module.so --script - \
        <<<$'define 7 100 ARCHIVE 0 0 "a" - - - -\ndefine 7 100 ARCHIVE 0 0 "b" - - - -'
    expect_rc 1
    expect_json
    expect_out ../errtable/duplicate.json
    # One copy of the module in the process: the loader never opens liberr itself.
    LD_DEBUG=files ${EMULATOR:-} "$errtable" check --module liberrtable_faults_module.so \
        >/dev/null 2>ld.txt
    ! grep -q 'file=liberr' ld.txt || fail "a second copy of liberr was loaded"
    # The example module and its script are clean; the own table's one finding is by design.
    run "$errtable" check --module "$lib/libexample_module.so" --script "$data/../../../examples/example.errsim"
    expect_rc 0
    expect_out_text ""
    run "$errtable" check --own
    expect_rc 1
    expect_out_text $'liberr[36]: module 1: number 65011: box-without-kind: action B 12 shows a message box but mb_kind_b is null: the box has no buttons and answers 0\n'
    # Usage and load errors
    run "$errtable" check
    expect_rc 2
    expect_err_text $'errtable: nothing to check (give --module, --script or --own)\n'
    run "$errtable" check --script missing.errsim
    expect_rc 2
    expect_err_text $'errtable: cannot read script missing.errsim\n'
    cp "$data/bad.errsim" .
    run "$errtable" check --script bad.errsim
    expect_rc 2
    expect_err_text $'errtable: bad.errsim line 5: unknown command \'repot\'\n'
    run "$errtable" check --module missing.so
    expect_rc 2
    grep -q '^errtable: cannot load module missing.so: ' err.txt || fail "load error: $(cat err.txt)"
    run "$errtable"
    expect_rc 2
    ;;
errsim_case_*)
    # A script case (tests/cases/NAME.errsim): errsim runs the script in a fresh folder; the
    # expected file NAME.out holds its stdout (dates and times masked), its stderr and exit
    # status, and the output of the commands the script's comment lines name:
    #   #! ARGS     more errsim arguments (words; after --script NAME.errsim)
    #   #< COMMAND  a shell command run before errsim (e.g. to put a damaged log in place)
    #   #> COMMAND  a shell command run after errsim; its output and status are compared too
    # The commands run in the case's folder with $errsim, $errlog and $cases set.
    name=${case_name#errsim_case_}
    cases=$data/../../cases
    cp "$cases/$name.errsim" .
    export errsim errlog cases
    while IFS= read -r line; do
        bash -c "${line#\#< }" >>setup.txt 2>&1 || fail "set-up failed: ${line#\#< }: $(cat setup.txt)"
    done < <(grep '^#< ' "$name.errsim")
    read -r -a args < <(sed -n 's/^#! //p' "$name.errsim" | tr '\n' ' ')
    run "$errsim" --script "$name.errsim" "${args[@]}"
    {
        mask out.txt
        if [ -s err.txt ]; then echo "--- stderr"; cat err.txt; fi
        echo "--- exit $rc"
        while IFS= read -r line; do
            echo "--- \$ ${line#\#> }"
            bash -c "${line#\#> }" >after.txt 2>&1
            after_rc=$?
            mask after.txt
            [ $after_rc = 0 ] || echo "--- exit $after_rc"
        done < <(grep '^#> ' "$name.errsim")
    } >case.txt
    if [ "${ERRSIM_TOOLS_UPDATE:-0}" = 1 ]; then cp case.txt "$cases/$name.out"; fi
    diff -u "$cases/$name.out" case.txt || fail "output differs from $name.out"
    ;;
*)
    fail "unknown case"
    ;;
esac

if [ $failed = 0 ]; then echo "PASS ($case_name)"; fi
exit $failed
