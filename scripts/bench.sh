#!/usr/bin/env bash
# Measures Kelvorin against the floor (bench/floor.c) and the Python script a
# user would otherwise write (bench/merge.py), and writes the tables, the goal
# checks and the plot into docs/performance.md and docs/performance-rows.png.
# Not part of the test run. Runs as root on Debian 12, from a clean clone:
#
#   scripts/bench.sh                  everything (about 5 minutes once built)
#   scripts/bench.sh --only permsg    some steps: data, permsg, wine, growth,
#                                     merge, profile (data is always added)
#   scripts/bench.sh --runs 100       fewer messages per program (default 500)
#
# It installs what is missing, builds Release into build-bench/ (Linux) and
# build-bench-win/ (Windows, for the Wine figure), starts SQLite and a private
# PostgreSQL with tests/system/engines.sh in a temporary folder, which also holds
# the message files (so they sit on the disk a spool would), and stops and
# removes it all at the end. Raw results stay in build-bench/results/.
# Nothing else should run on the machine meanwhile: the figures are times.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

only="" runs=500
while [ $# -gt 0 ]; do
  case $1 in
    --only) only=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) echo "usage: scripts/bench.sh [--only STEPS] [--runs N]" >&2; exit 2 ;;
  esac
done

# engines.sh needs the servers and drivers of every engine it starts.
packages=(cmake g++ unixodbc unixodbc-dev libsqliteodbc sqlite3 postgresql-15 odbc-postgresql
  mariadb-server odbc-mariadb python3-pyodbc python3-matplotlib valgrind
  g++-mingw-w64-x86-64-posix wine wine64)
missing=()
for p in "${packages[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

jobs=$(nproc)
# -g only adds symbols for the profiles; the code is the Release code.
echo "== building Release for Linux (build-bench)"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g -DCMAKE_C_FLAGS=-g \
  -DKELVORIN_TESTS=OFF >/dev/null
cmake --build build-bench -j "$jobs" >/dev/null
echo "== building Release for Windows (build-bench-win)"
# (the toolchain file is read on the first configure only: no warning later)
cmake -S . -B build-bench-win --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DKELVORIN_TESTS=OFF >/dev/null
cmake --build build-bench-win -j "$jobs" --target kelvorin >/dev/null

# Wine: a private prefix, made once, and its server kept running while the
# runs go on, as Windows keeps its own services: each run then pays for
# starting the program under Wine, not for starting Wine.
export KELVORIN_WINEPREFIX=${KELVORIN_WINEPREFIX:-$root/build-bench-win/wineprefix}
if [ ! -f "$KELVORIN_WINEPREFIX/system.reg" ]; then
  echo "== preparing the Wine prefix $KELVORIN_WINEPREFIX"
  cmake/wine-run.sh wineboot -i >/dev/null 2>&1 || true
fi

state=$(mktemp -d /tmp/kelvorin-bench.XXXXXX)
chmod 755 "$state"  # the database server runs as the postgres user
cleanup() {
  WINEPREFIX=$KELVORIN_WINEPREFIX wineserver -k >/dev/null 2>&1 || true
  tests/system/engines.sh stop "$state" >/dev/null 2>&1 || true
  rm -rf "$state"
}
trap cleanup EXIT
echo "== starting the databases ($state)"
tests/system/engines.sh start "$state" >/dev/null
export ODBCINI=$state/odbc.ini ODBCSYSINI=$state
WINEPREFIX=$KELVORIN_WINEPREFIX wineserver -p

# A run of some steps keeps the results of the others, so the report stays whole.
results=$root/build-bench/results
[ -z "$only" ] && rm -rf "$results"
mkdir -p "$results"
echo "$state/work" >"$results/workdir.txt"
echo "== measuring (load average now: $(cut -d' ' -f1-3 /proc/loadavg))"
steps=(--runs "$runs")
[ -n "$only" ] && steps+=(--only "data,$only")
/usr/bin/python3 bench/bench.py --build build-bench --win-build build-bench-win \
  --work "$state/work" --results "$results" "${steps[@]}"

echo "== writing docs/performance.md"
/usr/bin/python3 bench/report.py "$results" docs/performance.md
