#!/usr/bin/env bash
# Builds the Debian package build/package/px418_<version>_<arch>.deb - a
# Release build installed under /usr with Debian's hardening flags, without
# tests or benchmarks - and checks it with lintian: an error fails the build,
# warnings are shown.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh package

# The flags of a Debian package build, hardening included (fortified
# functions, stack protector, read-only relocations, immediate binding),
# given on every configure so that the cache always holds them.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi

cmake --preset package \
  -DCMAKE_C_FLAGS="$CPPFLAGS $CFLAGS" -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" >/dev/null
cmake --build --preset package
rm -f build/package/px418_*.deb
cpack --preset package
deb=$(ls build/package/px418_*.deb)

echo "lintian $deb:"
lintian --fail-on error "$deb"
echo "Package: $deb"
