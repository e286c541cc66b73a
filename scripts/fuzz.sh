#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang++ and runs each for
# a while. New inputs stay in the build folder; a crash's input is written
# to tests/fuzz/corpus/<target>/, so `make test` replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build-fuzz}")
seconds=${2:-60}
CXX=clang++ cmake -S . -B "$build" -DZV_FUZZ=ON -Wno-dev >/dev/null
for harness in tests/fuzz/*.cpp; do
  name=$(basename "$harness" .cpp)
  [ "$name" = replay ] && continue
  cmake --build "$build" -j "$(nproc)" --target "fuzz_$name" >"$build/build_$name.log" 2>&1 \
    || { cat "$build/build_$name.log"; exit 1; }
  mkdir -p "$build/corpus/$name"
  status=0
  "$build/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$PWD/tests/fuzz/corpus/$name/" \
    "$build/corpus/$name" "tests/fuzz/corpus/$name" >"$build/fuzz_$name.log" 2>&1 || status=$?
  echo "fuzz_$name: $(grep -E '^stat::number_of_executed_units' "$build/fuzz_$name.log" | awk '{print $2}') runs in ${seconds} s, exit $status"
  if [ "$status" -ne 0 ]; then
    grep -E -A30 '^==[0-9]+==|runtime error' "$build/fuzz_$name.log" | head -60
    exit 1
  fi
done
