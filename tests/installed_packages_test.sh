#!/bin/bash
# The Debian packages on a fresh machine, as a new user meets them (scripts/fresh-machine-check
# runs this as root in its Debian 12 root after make package): installed with apt-get, then
# `man errlog` shows the page, `errsim --version` answers, and the example module that
# liberr-dev carries builds against the installed files with find_package(ERR) and with
# pkg-config (errtable checking its table as a build step) and runs under the installed errsim
# with the output that the in-tree errsim and module give.
#   installed_packages_test.sh PACKAGE_DIR BUILD_DIR
test_name=installed_packages
packages=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
source "$(dirname "$0")/tools_common.sh"

DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$packages"/*.deb >apt.log 2>&1 ||
    { cat apt.log; fail "apt-get install of the packages failed"; finish; }
# The NAME line, however man justifies it.
man -P cat errlog >man.txt 2>&1 && tr -s ' ' <man.txt | grep -qE '^ ?errlog - [a-z]' ||
    { cat man.txt; fail "man errlog does not show the page"; }
version=$(errsim --version) && echo "$version" | grep -q '^errsim (ERR) [0-9]' ||
    fail "errsim --version: $version"
[ "$(command -v errsim)" = /usr/bin/errsim ] || fail "errsim is not /usr/bin/errsim"

examples=/usr/share/doc/liberr-dev/examples
script=$examples/example.errsim
[ -f "$examples/CMakeLists.txt" ] || { fail "liberr-dev carries no example"; finish; }
cmake -S "$examples" -B by-cmake >by-cmake.log 2>&1 && cmake --build by-cmake >>by-cmake.log 2>&1 ||
    { cat by-cmake.log; fail "find_package(ERR) build of the example failed"; }
cmake -S "$examples" -B by-pkgconfig -DEXAMPLE_USE_PKGCONFIG=ON >by-pkgconfig.log 2>&1 &&
    cmake --build by-pkgconfig >>by-pkgconfig.log 2>&1 ||
    { cat by-pkgconfig.log; fail "pkg-config build of the example failed"; }
grep -q '/usr/lib/.*cmake/ERR' by-cmake/CMakeCache.txt || fail "the example did not find the installed ERR"

run() {
    local name=$1
    shift
    mkdir -p "$work/$name" && (cd "$work/$name" && "$@" >out.txt 2>err.txt) ||
        fail "$name: exit status $?: $(cat "$work/$name/err.txt")"
    mask "$work/$name/out.txt" >"$work/$name.txt"
}
run in-tree "$build/bin/errsim" --module "$build/lib/libexample_module.so" --script "$script"
for way in by-cmake by-pkgconfig; do
    run "$way-run" errsim --module "$work/$way/libexample_module.so" --script "$script"
    diff -u "$work/in-tree.txt" "$work/$way-run.txt" || fail "$way: the output differs from the in-tree run's"
done
[ -s "$work/in-tree.txt" ] || fail "the in-tree run printed nothing"
finish
