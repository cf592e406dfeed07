#!/usr/bin/env bash
# The device link library as another program sees it once installed.
#
# Installs the build tree into a temporary prefix, then, with nothing but that
# prefix: checks the SONAME and the links; builds the installed example
# (share/doc/px418/examples/px418demo.c) and README's C example with the
# flags of `pkg-config --cflags --libs px418usb` alone; builds the example
# again through find_package(px418usb); and runs each against the virtual
# generator.
#
# Usage: library_consumer_test.sh <build dir> <source dir>
# Environment: CMAKE and CC name the tools (default: cmake, cc).
set -euo pipefail
build=$1
source=$2
cmake=${CMAKE:-cmake}
cc=${CC:-cc}

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" ||
    { cat "$work/install.log"; fail "cmake --install"; }

pcfile=$(find "$prefix" -name px418usb.pc)
[ -n "$pcfile" ] || fail "no px418usb.pc installed"
# Only the installed tree: no other .pc file may answer.
export PKG_CONFIG_LIBDIR=${pcfile%/*}
unset PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR
flags=$(pkg-config --cflags --libs px418usb)
libdir=$(pkg-config --variable=libdir px418usb)
version=$(pkg-config --modversion px418usb)
echo "pkg-config --cflags --libs px418usb: $flags"
case "$flags" in
*"$prefix"*) ;;
*) fail "the flags do not name the install prefix $prefix" ;;
esac

# The library, its SONAME and the usual links.
soname=$(readelf -d "$libdir/libpx418usb.so.$version" |
    sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
[ "$soname" = libpx418usb.so.1 ] || fail "SONAME is '$soname', expected libpx418usb.so.1"
[ "$(readlink "$libdir/libpx418usb.so.1")" = "libpx418usb.so.$version" ] ||
    fail "libpx418usb.so.1 does not point to libpx418usb.so.$version"
[ "$(readlink "$libdir/libpx418usb.so")" = libpx418usb.so.1 ] ||
    fail "libpx418usb.so does not point to libpx418usb.so.1"

# Builds a C file with the pkg-config flags and runs it on the virtual
# generator; its output must contain the given text.
build_and_run() {
    local name=$1 file=$2 expect=$3
    # shellcheck disable=SC2086 # the flags are words
    "$cc" -std=c99 -Wall -Wextra -Werror -o "$work/$name" "$file" $flags ||
        fail "$name does not build against the installed library"
    local out status=0
    out=$(LD_LIBRARY_PATH=$libdir PX418USB_DRIVER=virtual "$work/$name") || status=$?
    echo "$out"
    [ "$status" -eq 0 ] || fail "$name exited with $status"
    grep -qF -- "$expect" <<<"$out" || fail "$name did not print '$expect'"
}

build_and_run px418demo "$prefix/share/doc/px418/examples/px418demo.c" "close device"

# README's example: the first C block after the heading that introduces it.
awk '/^## Calling the library from C/ { seen = 1 }
     seen && /^```c$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside { print }' "$source/README.md" >"$work/readme_example.c"
[ -s "$work/readme_example.c" ] || fail "no C example found in README.md"
build_and_run readme_example "$work/readme_example.c" "output A: 1000.000 Hz"

# The CMake package.
"$cmake" -S "$source/tests/install/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_COMPILER="$cc" -DEXAMPLE="$prefix/share/doc/px418/examples/px418demo.c" \
    >"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; fail "find_package(px418usb)"; }
"$cmake" --build "$work/consumer" >>"$work/consumer.log" 2>&1 ||
    { cat "$work/consumer.log"; fail "building against px418usb::px418usb"; }
# The imported target carries the library's place; no LD_LIBRARY_PATH here.
PX418USB_DRIVER=virtual "$work/consumer/px418demo" >/dev/null ||
    fail "the example built through find_package failed"
echo "find_package(px418usb): built and ran"
