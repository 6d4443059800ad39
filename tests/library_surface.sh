#!/bin/bash
# What liberr.so shows the programs that load it: it exports exactly the functions that the
# public headers declare with ERR_API and the entry points that the executive reaches; it needs
# no host executive; the executive functions it calls are exactly those that rtx.h declares;
# no program that loads it holds a copy of the module's state of its own; and no program that
# holds the module itself (the tests) loads it.
# usage: library_surface.sh LIBERR PUBLIC_HEADER_DIR RTX_H [LOADER...] [-- HOLDER...]
set -u
lib=$1 headers=$2 rtx_h=$3
shift 3
failed=0
same() {  # what expected actual
    if [ "$2" != "$3" ]; then
        echo "$1 (< expected, > found):"
        diff <(echo "$2") <(echo "$3")
        failed=1
    fi
}
# Names the sanitizer builds add.
tooling='^_*(asan|ubsan|lsan|tsan|sanitizer|odr_asan)'

expected=$({ sed -nE 's/^ERR_API [^(]*[ *]([A-Za-z_][A-Za-z0-9_]*)\(.*/\1/p' "$headers"/*.h
    printf '%s\n' DllMain init_function error_task; } | sort -u)
exported=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -Ev "$tooling" | sort -u)
same "exported names" "$expected" "$exported"

declared=$(sed -nE 's/^[A-Za-z_][A-Za-z0-9_]*\**[ ]+\**([A-Za-z_][A-Za-z0-9_]*)\(.*/\1/p' \
    "$rtx_h" | sort -u)
# Undefined names without a version are the executive's; the C and C++ libraries version theirs,
# but for the names that a sanitizer's runtime takes over: there only rtx.h's names are compared.
undefined=$(nm -D --undefined-only "$lib")
called=$(echo "$undefined" | awk '$1 == "U" && $2 !~ /@/ {print $2}' | grep -Ev "$tooling" |
    sort -u)
if echo "$undefined" | grep -Eq ' _*(asan|ubsan|tsan)_'; then
    called=$(comm -12 <(echo "$declared") <(echo "$called"))
fi
same "executive functions called" "$declared" "$called"

if readelf -d "$lib" | grep NEEDED | grep -q rtx_host; then
    echo "liberr needs the host executive:"
    readelf -d "$lib" | grep NEEDED
    failed=1
fi

holds_module() { nm --defined-only "$1" | grep -Eq ' (DllMain|E_RegisterErrorTable)$'; }
loads_liberr() { readelf -d "$1" | grep NEEDED | grep -q liberr; }
holders=0
for program in "$@"; do
    if [ "$program" = -- ]; then
        holders=1
    elif [ $holders = 0 ] && holds_module "$program"; then
        echo "$program loads liberr and holds a copy of the module"
        failed=1
    elif [ $holders = 1 ] && loads_liberr "$program"; then
        echo "$program holds the module and loads liberr as well"
        failed=1
    fi
done
[ $failed = 0 ] && echo "liberr surface: $(echo "$exported" | wc -l) exported names, as declared"
exit $failed
