#!/bin/bash
# What a firmware team does with an installed ERR: install the build into a prefix (the tools
# with their man pages and without RUNPATH, run with the prefix's libraries in LD_LIBRARY_PATH),
# build the example firmware module as a project of its own against it (find_package(ERR) with
# err_check_tables(), then pkg-config with errtable's path from its variable), and run each
# module under the installed errsim: the output must be the one the in-tree errsim and module
# give. A module with a faulty table, checked by err_check_tables(), must fail its build with
# errtable's findings.
#   install_test.sh BUILD_DIR SOURCE_DIR
test_name=install_out_of_tree
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
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
# configure_build NAME CMAKE_ARGS...: configures and builds into $work/NAME; fails on error.
configure_build() {
    local name=$1
    shift
    cmake -B "$work/$name" "${generator[@]}" "${toolchain[@]}" "$@" >"$name.log" 2>&1 &&
        cmake --build "$work/$name" >>"$name.log" 2>&1
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >install.log 2>&1 || {
    cat install.log
    fail "cmake --install failed"
    finish
}
libdir=$(dirname "$(find "$prefix" -name 'liberr.so' | head -n 1)")
for f in include/err/err.h include/rtx/rtx.h include/rtx/rtx_host.h bin/errsim bin/errlog \
    bin/errtable share/man/man1/errsim.1 share/man/man1/errlog.1 share/man/man1/errtable.1; do
    [ -e "$prefix/$f" ] || fail "not installed: $f"
done
readelf -d "$libdir/liberr.so" | grep -q 'SONAME.*liberr\.so\.1\]' || fail "liberr has no SONAME liberr.so.1"
for elf in "$prefix"/bin/* "$libdir"/*.so.*; do
    readelf -d "$elf" | grep -qE 'RPATH|RUNPATH' && fail "installed ${elf#"$prefix"/} has a RUNPATH"
done
export LD_LIBRARY_PATH=$libdir
version=$(sed -n 's/^project(ERR VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
for tool in errsim errlog errtable; do
    [ "$(${EMULATOR:-} "$prefix/bin/$tool" --version)" = "$tool (ERR) $version" ] ||
        fail "$tool --version does not answer $version"
done

configure_build by-cmake -S "$src/examples" -DCMAKE_PREFIX_PATH="$prefix" ||
    { cat by-cmake.log; fail "find_package build failed"; }
grep -q 'errtable.*1 table' by-cmake.log || { cat by-cmake.log; fail "err_check_tables did not run errtable"; }
PKG_CONFIG_PATH=$libdir/pkgconfig configure_build by-pkgconfig -S "$src/examples" \
    -DEXAMPLE_USE_PKGCONFIG=ON || { cat by-pkgconfig.log; fail "pkg-config build failed"; }
grep -q '1 table' by-pkgconfig.log || { cat by-pkgconfig.log; fail "the pkg-config build did not run errtable"; }
# The pkg-config file names the prefix it was installed into, wherever that is.
pc_libs=$(echo $(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --libs err))
pc_libdir=${pc_libs%% *}
[ "$(cd "${pc_libdir#-L}" 2>/dev/null && pwd -P)" = "$(cd "$libdir" && pwd -P)" ] &&
    [ "${pc_libs#* }" = "-lerr" ] || fail "pkg-config --libs err: $pc_libs"
pc_errsim=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --variable=errsim err)
[ "$(cd "$(dirname "$pc_errsim")" && pwd -P)" = "$(cd "$prefix/bin" && pwd -P)" ] ||
    fail "pkg-config --variable=errsim err: $pc_errsim"

# A module with faulty tables: its build fails, with errtable's findings.
mkdir -p "$work/faulty-src"
cp "$src/tests/errtable/faults_module.c" "$work/faulty-src/faulty.c"
cat >"$work/faulty-src/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(faulty LANGUAGES C)
find_package(ERR 1.0 REQUIRED)
add_library(faulty SHARED faulty.c)
target_link_libraries(faulty PRIVATE ERR::err)
err_check_tables(faulty)
CMAKE
if configure_build faulty -S "$work/faulty-src" -DCMAKE_PREFIX_PATH="$prefix"; then
    fail "a module with faulty tables built"
fi
grep -q 'module-out-of-range' faulty.log || { cat faulty.log; fail "the failed build does not show errtable's findings"; }

masked in-tree "$build/bin/errsim" --module "$build/lib/libexample_module.so" --script "$script"
for way in by-cmake by-pkgconfig; do
    masked "$way" "$prefix/bin/errsim" --module "$work/$way/libexample_module.so" --script "$script"
    same in-tree "$way"
done
finish
