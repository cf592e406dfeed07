#!/usr/bin/env bash
# Checks the tree's C and C++ files, and the headers they include, with
# clang-tidy against .clang-tidy (braces around every if, else, for, while
# and do body), using the compile commands of the default build. Fails on a
# finding. With --fix, applies the fixes instead (then run
# ./scripts/check-format.sh --fix).
#
# Usage: scripts/check-tidy.sh [--fix]
# Needs the default build (./scripts/build.sh default): the windows' sources
# include what Qt's moc generated there.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/default
if [ ! -f "$build/compile_commands.json" ]; then
  echo "error: no $build/compile_commands.json; run ./scripts/build.sh default first" >&2
  exit 2
fi
# The tree's own files only, not what the build generated beside them.
source_dirs="$PWD/(app|bench|core|ctl|link|server|tests|widgets)/"
log="$build/clang-tidy.log"
if [ "${1:-}" = "--fix" ]; then
  # The findings fail the run, but their fixes are applied all the same;
  # anything else (a file that does not compile) fails the fix.
  run-clang-tidy -p "$build" -quiet -j "$(nproc)" -fix \
    -header-filter="^${source_dirs}" "^${source_dirs}" >"$log" 2>&1 || true
  if sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E "error:" \
    | grep -v "readability-braces-around-statements" >&2; then
    echo "clang-tidy: errors above; full output in $log" >&2
    exit 1
  fi
  echo "clang-tidy: fixes applied; now run ./scripts/check-format.sh --fix"
  exit 0
fi
if ! run-clang-tidy -p "$build" -quiet -j "$(nproc)" \
  -header-filter="^${source_dirs}" "^${source_dirs}" >"$log" 2>&1; then
  # Each finding once (a header's come from every file that includes it),
  # without the terminal's colours.
  sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E "(warning|error):" | sort -u >&2
  echo "clang-tidy: findings above; full output in $log" >&2
  exit 1
fi
