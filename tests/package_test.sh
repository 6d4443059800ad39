#!/bin/bash
# The Debian packages as made by `make package` (scripts/build-packages), checked as Debian and
# a firmware team see them: lintian with no error and no warning on any package (its output
# shown); the split (runtime libraries in the multiarch folder with their SONAMEs, development
# files, tools with man pages, debug symbols apart); no RUNPATH and no debug sections in any
# installed ELF file; one maintainer, in debian/control and the changelog; and every file,
# package and CMake target that README.md names exists.
#   package_test.sh PACKAGE_DIR SOURCE_DIR
# Exit status: 0 passed, 1 failed, 77 no packages in PACKAGE_DIR (make package has not run).
test_name=package_files
packages=$(cd "$1" 2>/dev/null && pwd) || exit 77
src=$(cd "$2" && pwd)
ls "$packages"/*.deb >/dev/null 2>&1 || { echo "SKIP: no packages in $packages (make package)"; exit 77; }
source "$(dirname "$0")/tools_common.sh"

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
deb() { ls "$packages/$1"_*.deb 2>/dev/null | head -n 1; }
for p in liberr1 liberr-dev librtx-host1 librtx-host-dev err-tools \
    liberr1-dbgsym librtx-host1-dbgsym err-tools-dbgsym; do
    [ -n "$(deb "$p")" ] || fail "no package $p"
done

# lintian, every package: no error, no warning (overrides carry their reasons in debian/).
for f in "$packages"/*.deb; do
    echo "--- lintian $(basename "$f")"
    lintian --fail-on error,warning "$f" || fail "lintian: $(basename "$f")"
done

for p in liberr1 liberr-dev librtx-host1 librtx-host-dev err-tools; do
    f=$(deb "$p") && [ -n "$f" ] || continue
    dpkg-deb -x "$f" "$work/root"
    dpkg-deb -c "$f" | sed 's/ -> .*//' | awk '{ print $NF }' | sed 's|^\./|/|' >"$work/$p.files"
done
root=$work/root
has() { grep -qx "$2" "$work/$1.files" || fail "$1 lacks $2"; }
has liberr1 "/usr/lib/$multiarch/liberr.so.1"
has liberr-dev "/usr/lib/$multiarch/liberr.so"
has liberr-dev "/usr/include/err/err.h"
has liberr-dev "/usr/lib/$multiarch/cmake/ERR/ERRConfig.cmake"
has liberr-dev "/usr/lib/$multiarch/pkgconfig/err.pc"
has librtx-host1 "/usr/lib/$multiarch/librtx_host.so.1"
has librtx-host-dev "/usr/include/rtx/rtx_host.h"
for tool in errsim errlog errtable; do
    has err-tools "/usr/bin/$tool"
    has err-tools "/usr/share/man/man1/$tool.1.gz"
done
for p in liberr1 liberr-dev librtx-host1 librtx-host-dev err-tools; do
    has "$p" "/usr/share/doc/$p/copyright"
done
grep -q "^/usr/lib/" "$work/err-tools.files" &&
    fail "err-tools holds libraries"
readelf -d "$root/usr/lib/$multiarch/liberr.so.1" | grep -q 'SONAME.*\[liberr\.so\.1\]' ||
    fail "liberr.so.1 has no SONAME liberr.so.1"
while read -r elf; do
    readelf -d "$elf" | grep -E 'RPATH|RUNPATH' && fail "${elf#"$root"} has a RUNPATH"
    readelf -S "$elf" | grep -q '\.debug_info' && fail "${elf#"$root"} is not stripped"
done < <(find "$root" -type f -exec sh -c 'file -b "$1" | grep -q ^ELF' _ {} \; -print)

maintainer=$(sed -n 's/^Maintainer: //p' "$src/debian/control")
for f in "$packages"/*.deb; do
    [ "$(dpkg-deb -f "$f" Maintainer)" = "$maintainer" ] || fail "$(basename "$f"): another maintainer"
done
[ "$(dpkg-parsechangelog -l "$src/debian/changelog" -S Maintainer)" = "$maintainer" ] ||
    fail "debian/changelog is signed by another maintainer than debian/control's"
version=$(sed -n 's/^project(ERR VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ "$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)" = "$version" ] ||
    fail "debian/changelog's version is not the project's ($version)"

# README: every path it names in backquotes under build/ or the source folders exists (paths
# for the reader's own files start with "my"), and every ERR:: target it names is defined by
# the installed CMake package.
readme=$src/README.md
grep -o '`[^`]*`' "$readme" | tr -d '`' | tr ' ' '\n' | sed 's|^\./||; s|[),:]*$||' |
    grep -E '^(build|docs|examples|scripts|tools|include|platform|err|tests|debian|cmake)/' |
    grep -v -e '/my[_.]' -e '[*<]' | sort -u >"$work/readme.paths"
[ -s "$work/readme.paths" ] || fail "README names no paths"
while read -r path; do
    [ -e "$src/$path" ] || fail "README names $path, which the build does not make"
done <"$work/readme.paths"
grep -q 'build/packages/[^ `]*\.deb' "$readme" || fail "README names no package file"
mkdir -p "$work/targets"
{
    echo 'cmake_minimum_required(VERSION 3.20)'
    echo 'project(readme_targets LANGUAGES C)'
    echo 'find_package(ERR REQUIRED)'
    for t in $(grep -o 'ERR::[a-z_]*' "$readme" | sort -u); do
        echo "if(NOT TARGET $t)"
        echo "    message(FATAL_ERROR \"README names $t, which find_package(ERR) does not define\")"
        echo 'endif()'
    done
} >"$work/targets/CMakeLists.txt"
cmake -S "$work/targets" -B "$work/targets/build" -DCMAKE_PREFIX_PATH="$root/usr" \
    >"$work/targets.log" 2>&1 || { cat "$work/targets.log"; fail "README's CMake targets"; }
finish
