#!/bin/bash
# What a firmware team does with an installed ERR: install the build into a prefix, build the
# example firmware module as a project of its own against it (find_package(ERR), then
# pkg-config), and run each module under the installed errsim; the output must be the one the
# in-tree module gives. The package case builds the .deb, unpacks it (dpkg-deb -x) and runs
# the demo from there.
#   install_test.sh install|package BUILD_DIR SOURCE_DIR
set -u
mode=$1
build=$(cd "$2" && pwd)
src=$(cd "$3" && pwd)
data=$src/tests/data/errsim

work=$(mktemp -d "${TMPDIR:-/tmp}/err_install.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failed=0
fail() {
    echo "FAIL ($mode): $*"
    failed=1
}
mask() {
    sed -E 's/[0-9]{2}\.[A-Z]{3}\.[0-9]{2}/DD.MMM.YY/g; s/[0-9]{2}:[0-9]{2}:[0-9]{2}/HH:MM:SS/g' "$1"
}
# expect_run NAME EXPECTED CMD...: runs CMD in a folder of its own; exit 0 and the expected stdout.
expect_run() {
    local name=$1 expected=$2
    shift 2
    mkdir -p "$work/run-$name" && cd "$work/run-$name" || return
    ${EMULATOR:-} "$@" >out.txt 2>err.txt || fail "$name: exit status $?: $(cat err.txt)"
    mask out.txt >masked.txt
    diff -u "$expected" masked.txt || fail "$name: stdout differs from $expected"
    cd "$work" || return
}
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
toolchain=()
[ -n "${ERR_TOOLCHAIN_FILE:-}" ] && toolchain=(-DCMAKE_TOOLCHAIN_FILE="$ERR_TOOLCHAIN_FILE")

case "$mode" in
install)
    prefix=$work/prefix
    cmake --install "$build" --prefix "$prefix" >install.log 2>&1 || {
        cat install.log
        fail "cmake --install failed"
        exit 1
    }
    libdir=$(dirname "$(find "$prefix" -name 'liberr.so' | head -n 1)")
    for f in include/err/err.h include/rtx/rtx.h include/rtx/rtx_host.h bin/errsim bin/errlog bin/errtable; do
        [ -e "$prefix/$f" ] || fail "not installed: $f"
    done
    readelf -d "$libdir/liberr.so" | grep -q 'SONAME.*liberr\.so\.1\]' || fail "liberr has no SONAME liberr.so.1"
    # find_package(ERR)
    cmake -S "$src/examples" -B "$work/by-cmake" "${generator[@]}" "${toolchain[@]}" \
        -DCMAKE_PREFIX_PATH="$prefix" >cmake-config.log 2>&1 &&
        cmake --build "$work/by-cmake" >cmake-build.log 2>&1 ||
        { cat cmake-config.log cmake-build.log; fail "find_package build failed"; }
    # pkg-config
    PKG_CONFIG_PATH=$libdir/pkgconfig cmake -S "$src/examples" -B "$work/by-pkgconfig" \
        "${generator[@]}" "${toolchain[@]}" -DEXAMPLE_USE_PKGCONFIG=ON >pc-config.log 2>&1 &&
        cmake --build "$work/by-pkgconfig" >pc-build.log 2>&1 ||
        { cat pc-config.log pc-build.log; fail "pkg-config build failed"; }
    # The pkg-config file names the prefix it was installed into, wherever that is.
    pc_libs=$(echo $(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --libs err))
    pc_libdir=${pc_libs%% *}
    [ "$(cd "${pc_libdir#-L}" 2>/dev/null && pwd -P)" = "$(cd "$libdir" && pwd -P)" ] &&
        [ "${pc_libs#* }" = "-lerr" ] || fail "pkg-config --libs err: $pc_libs"
    for way in by-cmake by-pkgconfig; do
        expect_run "$way" "$data/module.out" "$prefix/bin/errsim" \
            --module "$work/$way/libexample_module.so" --script "$src/examples/example.errsim"
    done
    ;;
package)
    (cd "$build" && cpack -G DEB -B "$work/package") >cpack.log 2>&1 || {
        cat cpack.log
        fail "cpack failed"
        exit 1
    }
    deb=$(ls "$work"/package/err_*.deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || { fail "no .deb made"; exit 1; }
    depends=$(dpkg-deb -f "$deb" Depends)
    case "$depends" in *libc6*libstdc++6* | *libstdc++6*libc6*) ;; *) fail "Depends computed wrong: '$depends'" ;; esac
    dpkg-deb -x "$deb" "$work/unpacked"
    expect_run demo "$data/demo.out" "$work/unpacked/usr/bin/errsim" --root ./demo-root
    ;;
*)
    echo "usage: install_test.sh install|package BUILD_DIR SOURCE_DIR" >&2
    exit 2
    ;;
esac
[ "$failed" = 0 ] && echo "PASS ($mode)"
exit "$failed"
