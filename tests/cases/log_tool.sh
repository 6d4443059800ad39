#!/bin/bash
# log_tool.sh chains FILE: the header and each record on a line (number, state, previous and
# next link, code, first text line). log_tool.sh set IN OUT RECORD FIELD VALUE...: a copy with
# fields overwritten (RECORD 0, the header: start end new overflow empty length; else prev next),
# written with the case runner's `at`.
set -eu
if [ "$1" = chains ]; then
    tr -d '\r' <"$2" | awk '
    function v() { return substr($0, 26) }
    /^Error Start Record:/ { h = "start " v() } /^Error End Record:/ { h = h " end " v() }
    /^Number of new Records:/ { h = h " new " v() } /^Overflow Record:/ { h = h " overflow " v() }
    /^Empty Record:/ { h = h " empty " v() } /^Log File Length:/ { print h " length " v() }
    /^Error Record Nr.:/ { r = v() } /^Record State:/ { r = r " " v() }
    /^Previous Record:/ { r = r " prev " v() } /^Next Record:/ { r = r " next " v() }
    /^Error Code:/ { r = r " code " v(); getline; sub(/ +$/, ""); print r " " $0 }'
    exit
fi
[ "$2" = "$3" ] || cp "$2" "$3"
out=$3
shift 3
while [ $# -ge 3 ]; do
    case $2 in
        start) offset=134 ;; end) offset=164 ;; new) offset=194 ;; overflow) offset=224 ;;
        empty) offset=254 ;; length) offset=284 ;; prev) offset=165 ;; next) offset=195 ;;
        *) exit 2 ;;
    esac
    printf %s "$3" | at "$out" "$1" "$offset"  # the case runner's: offset in record $1 (0: header)
    shift 3
done
