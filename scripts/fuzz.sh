#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers on) and runs each for SECONDS (default 30). New inputs go to a
# corpus kept in build-fuzz/corpus/ between runs; a fresh one starts empty:
# libFuzzer's comparison tracing finds the markers and key names by itself in
# seconds. A crash
# leaves its input in build-fuzz/crashes/ and fails the script.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     targets: ini recipient merge
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(ini recipient merge)

scripts/install-missing.sh clang libclang-rt-dev unixodbc-dev

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DKELVORIN_FUZZ=ON -DKELVORIN_SANITIZE=ON \
  -DKELVORIN_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$(nproc)" >/dev/null

mkdir -p build-fuzz/crashes
status=0
for t in "${targets[@]}"; do
  scratch=build-fuzz/corpus/$t
  mkdir -p "$scratch"
  log=build-fuzz/$t.log
  if build-fuzz/tests/fuzz/${t}_fuzz -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="build-fuzz/crashes/$t-" "$scratch" >"$log" 2>&1; then
    runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$')
    echo "fuzz $t: ${runs:-?} executions in ${seconds} s, no failure"
  else
    echo "fuzz $t: FAILED, see $log and build-fuzz/crashes/"
    tail -n 20 "$log"
    status=1
  fi
done
exit $status
