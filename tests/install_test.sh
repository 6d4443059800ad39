#!/bin/bash
# What a firmware team does with an installed ERR: install the build into a prefix, build the
# example firmware module as a project of its own against it (find_package(ERR), then
# pkg-config), and run each module under the installed errsim; the output must be the one the
# in-tree errsim and module give. The package case builds the .deb, unpacks it (dpkg-deb -x)
# and runs the demo from there against the in-tree demo.
#   install_test.sh install|package BUILD_DIR SOURCE_DIR
test_name=$1
build=$(cd "$2" && pwd)
src=$(cd "$3" && pwd)
source "$(dirname "$0")/tools_common.sh"
# masked NAME CMD...: runs CMD in a folder of its own (exit 0 expected), stdout masked to NAME.txt.
masked() {
    local name=$1
    shift
    mkdir -p "$work/$name" && cd "$work/$name" || return
    ${EMULATOR:-} "$@" >out.txt 2>err.txt || fail "$name: exit status $?: $(cat err.txt)"
    mask out.txt >"$work/$name.txt"
    cd "$work" || return
}
same() { diff -u "$work/$1.txt" "$work/$2.txt" || fail "$2: the output differs from $1's"; }
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
toolchain=()
[ -n "${ERR_TOOLCHAIN_FILE:-}" ] && toolchain=(-DCMAKE_TOOLCHAIN_FILE="$ERR_TOOLCHAIN_FILE")
script=$src/examples/example.errsim
case "$test_name" in
install)
    prefix=$work/prefix
    cmake --install "$build" --prefix "$prefix" >install.log 2>&1 || {
        cat install.log
        fail "cmake --install failed"
        finish
    }
    libdir=$(dirname "$(find "$prefix" -name 'liberr.so' | head -n 1)")
    for f in include/err/err.h include/rtx/rtx.h include/rtx/rtx_host.h bin/errsim bin/errlog bin/errtable; do
        [ -e "$prefix/$f" ] || fail "not installed: $f"
    done
    readelf -d "$libdir/liberr.so" | grep -q 'SONAME.*liberr\.so\.1\]' || fail "liberr has no SONAME liberr.so.1"
    cmake -S "$src/examples" -B "$work/by-cmake" "${generator[@]}" "${toolchain[@]}" \
        -DCMAKE_PREFIX_PATH="$prefix" >cmake-config.log 2>&1 &&
        cmake --build "$work/by-cmake" >cmake-build.log 2>&1 ||
        { cat cmake-config.log cmake-build.log; fail "find_package build failed"; }
    PKG_CONFIG_PATH=$libdir/pkgconfig cmake -S "$src/examples" -B "$work/by-pkgconfig" \
        "${generator[@]}" "${toolchain[@]}" -DEXAMPLE_USE_PKGCONFIG=ON >pc-config.log 2>&1 &&
        cmake --build "$work/by-pkgconfig" >pc-build.log 2>&1 ||
        { cat pc-config.log pc-build.log; fail "pkg-config build failed"; }
    # The pkg-config file names the prefix it was installed into, wherever that is.
    pc_libs=$(echo $(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --libs err))
    pc_libdir=${pc_libs%% *}
    [ "$(cd "${pc_libdir#-L}" 2>/dev/null && pwd -P)" = "$(cd "$libdir" && pwd -P)" ] &&
        [ "${pc_libs#* }" = "-lerr" ] || fail "pkg-config --libs err: $pc_libs"
    masked in-tree "$build/bin/errsim" --module "$build/lib/libexample_module.so" --script "$script"
    for way in by-cmake by-pkgconfig; do
        masked "$way" "$prefix/bin/errsim" --module "$work/$way/libexample_module.so" --script "$script"
        same in-tree "$way"
    done
    ;;
package)
    (cd "$build" && cpack -G DEB -B "$work/package") >cpack.log 2>&1 || {
        cat cpack.log
        fail "cpack failed"
        finish
    }
    deb=$(ls "$work"/package/err_*.deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || { fail "no .deb made"; finish; }
    depends=$(dpkg-deb -f "$deb" Depends)
    case "$depends" in *libc6*libstdc++6* | *libstdc++6*libc6*) ;; *) fail "Depends computed wrong: '$depends'" ;; esac
    dpkg-deb -x "$deb" "$work/unpacked"
    masked in-tree "$build/bin/errsim" --root ./demo-root
    masked unpacked "$work/unpacked/usr/bin/errsim" --root ./demo-root
    same in-tree unpacked
    ;;
*)
    echo "usage: install_test.sh install|package BUILD_DIR SOURCE_DIR" >&2
    exit 2
    ;;
esac
finish
