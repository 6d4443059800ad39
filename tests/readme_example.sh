#!/bin/bash
# The C example of README.md, copied out as it stands, compiles with -std=c99 -Wall -Werror
# against the public headers and links against liberr; with ERRTABLE set, its table is clean.
#   readme_example.sh README INCLUDE_DIR LIB_DIR CC [CFLAGS...]
set -eu
readme=$1
include=$2
lib=$3
shift 3
work=$(mktemp -d "${TMPDIR:-/tmp}/readme_example.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The first C block of the README.
awk '/^```c$/ { inside = 1; next } inside && /^```/ { exit } inside { print }' "$readme" \
    >"$work/example.c"
if [ ! -s "$work/example.c" ]; then
    echo "FAIL: no C example in $readme"
    exit 1
fi
"$@" -std=c99 -Wall -Werror -I"$include" -fPIC -shared -o "$work/example.so" "$work/example.c" \
    -L"$lib" -lerr -Wl,--no-undefined
if [ -n "${ERRTABLE:-}" ]; then
    ${EMULATOR:-} "$ERRTABLE" check --module "$work/example.so"
fi
echo "PASS (readme_example)"
