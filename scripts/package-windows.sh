#!/usr/bin/env bash
# Packs the device link library for Windows users:
# build/windows/px418usb-<version>-win64.zip with px418usb.dll, its import
# library and .def file, the two headers, the demo (program and source) and
# packaging/windows/README.txt, on installing the converter maker's driver
# and calling the library from C and from Python.
#
# Then checks the zip as a user would meet it: unpacked into a folder of its
# own, the demo as shipped, and the demo built from the zip's header and
# import library alone, both run under wine on the virtual generator.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh windows
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
./scripts/build.sh windows

build=build/windows
version=$(sed -n 's/^project(PX418 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=px418usb-$version-win64
stage=$build/zip/$name
rm -rf "$build/zip" "$build/$name.zip"
mkdir -p "$stage/include" "$stage/lib"

# Without their symbol tables: what a debugger needs stays in the build.
x86_64-w64-mingw32-strip --strip-unneeded -o "$stage/px418usb.dll" "$build/bin/px418usb.dll"
x86_64-w64-mingw32-strip -o "$stage/px418demo.exe" "$build/bin/px418demo.exe"
cp link/demo/px418demo.c "$stage/"
cp link/include/px418usb.h link/include/px418_protocol.h "$stage/include/"
cp "$build/link/libpx418usb.dll.a" "$build/link/px418usb.def" "$stage/lib/"
# Windows line ends, for Notepad.
sed -e "s/@VERSION@/$version/" -e 's/$/\r/' packaging/windows/README.txt >"$stage/README.txt"
(cd "$build/zip" && zip -q -r -X "../$name.zip" "$name")

check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT
unzip -q "$build/$name.zip" -d "$check"
unpacked=$check/$name
x86_64-w64-mingw32-gcc -std=c99 -Wall -Werror "$unpacked/px418demo.c" -I"$unpacked/include" \
  -L"$unpacked/lib" -lpx418usb -o "$unpacked/px418demo_built.exe"
for demo in px418demo.exe px418demo_built.exe; do
  PX418USB_DRIVER=virtual tests/windows/wine_run.sh "$PWD/$build/wine-prefix" \
    "$unpacked/$demo" >"$check/out.txt" || {
    cat "$check/out.txt"
    echo "error: $demo from the zip failed" >&2
    exit 1
  }
done
echo "Package: $build/$name.zip"
unzip -l "$build/$name.zip"
