#!/usr/bin/env bash
# Builds the fuzz targets (tests/fuzz/) with clang and libFuzzer in
# build/fuzz, apart from the presets, and runs each one from its seed corpus
# for SECONDS (default 60). Exits non-zero on any finding; the input that
# found it is left in build/fuzz/findings/.
#
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build=build/fuzz

cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"

rm -rf "$build/findings"
mkdir -p "$build/findings"
for target in wake_receive scpi_parse; do
  # New inputs go to the build folder's corpus; the seeds in the tree stay as
  # they are.
  mkdir -p "$build/corpus/$target"
  "$build/${target}_fuzz" -max_total_time="$seconds" -max_len=2048 -use_value_profile=1 \
    -artifact_prefix="$build/findings/$target-" -print_final_stats=1 \
    "$build/corpus/$target" "tests/fuzz/corpus/$target"
done
