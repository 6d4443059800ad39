# Sourced by the tool test scripts (test_name set): a fresh work folder, removed at exit,
# fail, mask (dates and times as dd.mmm.yy and hh:mm:ss, unlike the DD.MMM.YY and HH:MM:SS that
# a record holds before its first stamp, and the ISO form of a masked time as yyyy-mm-ddThh:mm:ss)
# and finish (PASS line, exit status).
work=$(mktemp -d "${TMPDIR:-/tmp}/err_tools.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failed=0
fail() {
    echo "FAIL ($test_name): $*"
    failed=1
}
mask() {
    sed -E 's/[0-9]{2}\.[A-Z]{3}\.[0-9]{2}/dd.mmm.yy/g; s/[0-9]{2}:[0-9]{2}:[0-9]{2}/hh:mm:ss/g; s/[0-9]{4}-[0-9]{2}-[0-9]{2}Thh:mm:ss/yyyy-mm-ddThh:mm:ss/g' "$@"
}
finish() {
    [ "$failed" = 0 ] && echo "PASS ($test_name)"
    exit "$failed"
}
