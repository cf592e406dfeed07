#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing PX418 need,
# where they are missing. Runs apt-get as root, or through sudo.
#
# Usage: install-deps.sh [package] [e2e] [windows]
#   (no argument)  building, running and the test suite
#   package        also what building and checking the Debian package needs
#   e2e            also what the test of the installed program needs (a
#                  virtual X server, a window manager, input and screenshots)
#   windows        also what the Windows build of the library needs: the
#                  MinGW-w64 cross compiler (posix threads), GoogleTest's
#                  sources to build for it, wine to run its tests, zip to pack
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git clang-format clang-tidy clang-tools
  qt6-base-dev qt6-svg-dev qt6-qpa-plugins libgl-dev fonts-dejavu-core
  libftdi1-dev libavahi-client-dev
  python3 python3-pyvisa-py
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  xvfb xauth
)
for group in "$@"; do
  case "$group" in
  package) packages+=(dpkg-dev lintian) ;;
  e2e) packages+=(dpkg xvfb openbox xdotool x11-utils imagemagick python3) ;;
  windows) packages+=(g++-mingw-w64-x86-64-posix googletest wine wine64 zip) ;;
  *)
    echo "error: unknown group '$group' (known: package, e2e, windows)" >&2
    exit 2
    ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "error: these packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
