#!/usr/bin/env bash
# Runs a Windows program under wine: the cross-compiling emulator of the
# Windows build's tests.
#
# Usage: wine_run.sh PREFIX PROGRAM [ARGUMENTS...]
#
# PREFIX is the wine prefix, a folder of the build; it is made on first use,
# once, whoever comes first (wineboot under a lock), and quietly. The
# program's output, once it has ended, has its line ends as on Linux, so that
# CTest and GoogleTest's test discovery read it as they read a Linux
# program's. The exit code is the program's.
set -euo pipefail

prefix="$1"
shift
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No menu entries or file associations, no offer to install Mono or Gecko.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
# Console programs only: no display is wanted, even where one is set.
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      wineboot --init >/dev/null 2>&1
      wineserver --wait
    fi
  ) 9>"$prefix.lock"
fi

# One wine server for the whole test run: it stays 30 s after its last
# program instead of the usual 3, so that a program starting never meets a
# server on its way out. A server already running answers 2 and is kept.
wineserver -p30 >/dev/null 2>&1 || true

# The output goes through files, not pipes: the helper processes that wine
# starts beside a program (and keeps for a few seconds after it) inherit its
# standard streams, and a pipe would stay open until they end.
output=$(mktemp -d)
trap 'rm -rf "$output"' EXIT
# A program whose connection to the wine server broke ("wine client error")
# was stopped by wine, not by its own failure: it is started once more. Any
# other failure is the program's own and stands.
for attempt in 1 2; do
  status=0
  wine "$@" >"$output/out" 2>"$output/err" || status=$?
  if [ "$status" -eq 0 ] || ! grep -q '^wine client error' "$output/err"; then
    break
  fi
  echo "wine_run.sh: wine lost its server (attempt $attempt)" >&2
done
tr -d '\r' <"$output/out"
tr -d '\r' <"$output/err" >&2
exit "$status"
