#!/usr/bin/env bash
# Measures Kelvorin and writes docs/performance.md and docs/performance-rows.png.
# Not part of the test run. As root on Debian 12, from a clean clone, with
# nothing else running (the figures are times):
#
#   scripts/bench.sh [--runs N] [--rounds R] [--pairs P] [--growth G] [--no-wine]
#
# Whole runs (hyperfine): the floor (bench/floor.c: connect, query, fetch),
# the durable floor (the same, then the rows written to a temporary file,
# fsync, rename, fsync of the folder), kelvorin and the Python script a user
# would otherwise write (bench/merge.py), N runs each (default 500) in R turns
# (default 50); then P interleaved rounds (bench/pairs.py, default 2000) of
# the durable floor, kelvorin and kelvorin again; then the growth with the
# rows (hyperfine, and G interleaved rounds a point, default 100), and
# kelvorin.exe under Wine unless --no-wine. The load average goes beside every
# figure. Peak memory: /usr/bin/time. The merge alone: Google
# Benchmark (bench/merge_bench.cpp). It installs what is missing, builds
# Release into build-bench/ (and build-bench-win/ for Wine), starts SQLite and
# a private PostgreSQL with scripts/engines.sh in a temporary folder that
# also holds the message files (so every fsync reaches the disk), and removes
# it all at the end. Raw results stay in build-bench/results/.
set -eEuo pipefail
cd "$(dirname "$0")/.."
root=$PWD

runs=500 rounds=50 pairs=2000 growth=100 wine=1
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --pairs) pairs=$2; shift 2 ;;
    --growth) growth=$2; shift 2 ;;
    --no-wine) wine=0; shift ;;
    *) echo "usage: scripts/bench.sh [--runs N] [--rounds R] [--pairs P] [--growth G]" \
      "[--no-wine]" >&2; exit 2 ;;
  esac
done
start_time=$SECONDS
trap 'echo "bench.sh: failed at line $LINENO" >&2' ERR

# engines.sh needs the servers and drivers of every engine it starts.
packages=(cmake g++ unixodbc unixodbc-dev libsqliteodbc sqlite3 postgresql-15 odbc-postgresql
  mariadb-server odbc-mariadb python3-pyodbc python3-matplotlib hyperfine libbenchmark-dev time)
[ $wine = 1 ] && packages+=(g++-mingw-w64-x86-64-posix wine wine64)
scripts/install-missing.sh "${packages[@]}"

# -g only adds symbols for profiles; the code is the Release code.
echo "== building Release (build-bench)"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g -DCMAKE_C_FLAGS=-g \
  -DKELVORIN_TESTS=OFF >/dev/null
cmake --build build-bench -j 2 >/dev/null
if [ $wine = 1 ]; then
  echo "== building Release for Windows (build-bench-win)"
  # (the toolchain file is read on the first configure only: no warning later)
  cmake -S . -B build-bench-win --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DKELVORIN_TESTS=OFF >/dev/null
  cmake --build build-bench-win -j 2 --target kelvorin >/dev/null
  # A prefix made once, its server kept running during the runs (as Windows
  # keeps its services): a run pays for starting the program, not Wine.
  export KELVORIN_WINEPREFIX=${KELVORIN_WINEPREFIX:-$root/build-bench-win/wineprefix}
  [ -f "$KELVORIN_WINEPREFIX/system.reg" ] || cmake/wine-run.sh wineboot -i >/dev/null 2>&1 || true
  WINEPREFIX=$KELVORIN_WINEPREFIX wineserver -w  # until the server wineboot started is gone
fi

state=$(mktemp -d /tmp/kelvorin-bench.XXXXXX)
chmod 755 "$state"  # the database server runs as the postgres user
cleanup() {
  [ $wine = 0 ] || WINEPREFIX=$KELVORIN_WINEPREFIX wineserver -k >/dev/null 2>&1 || true
  scripts/engines.sh stop "$state" >/dev/null 2>&1 || true
  rm -rf "$state" "/dev/shm/kelvorin-bench.$$"
}
trap cleanup EXIT
echo "== starting the databases ($state)"
scripts/engines.sh start "$state" >/dev/null
export ODBCINI=$state/odbc.ini ODBCSYSINI=$state
[ $wine = 1 ] && WINEPREFIX=$KELVORIN_WINEPREFIX wineserver -p

results=$root/build-bench/results
rm -rf "$results" && mkdir -p "$results"
floor=$root/build-bench/bench/kelvorin_floor

# A folder holding the program, its INI and its query, as a host installs it.
install() {  # FOLDER PROGRAM
  mkdir -p "$1" && cp "$2" "$work/query.sql" "$1/"
  printf '[Database]\r\nSource=%s\r\nRequest=query.sql\r\n[Options]\r\nDeleteOnErrors=No\r\n' \
    "$dsn" >"$1/kelvorin.INI"
}

# The programs as hyperfine arguments for the message to rowsN@example.com:
# each works on its own copy of the message, restored before every run, so
# each pays for the same freshly written file that a host leaves.
programs() {  # N
  local sql p
  sql=$(sed "s/%recipient%/rows$1@example.com/" "$work/query.sql" | tr '\n' ' ')
  commands=(-n floor "$floor $dsn '' '' \"$sql\""
    -n "durable floor" "$floor $dsn '' '' \"$sql\" $work/durable.txt"
    -n kelvorin "$work/install/kelvorin $work/kelvorin.txt"
    -n python "/usr/bin/python3 $root/bench/merge.py $dsn $work/query.sql $work/python.txt")
  prepare=()
  for p in floor durable kelvorin python; do
    prepare+=(--prepare "cp $work/rows$1.txt $work/$p.txt")
  done
}

# Kelvorin exits 0 whatever happens: only its output tells a merge from a failure.
check() {  # N [PROGRAMS]
  for p in ${2:-kelvorin python}; do
    if grep -q -e %kelvorin% -e %% "$work/$p.txt" ||
      [ "$(grep -c 'Order #' "$work/$p.txt")" != "$1" ]; then
      echo "bench.sh: $p did not merge $work/$p.txt" >&2
      exit 1
    fi
  done
  if [ "$(wc -l <"$work/durable.txt")" != "$1" ]; then
    echo "bench.sh: the durable floor did not write $work/durable.txt" >&2
    exit 1
  fi
}

# Runs a command with its warnings kept aside; shows them only when it fails.
quiet() {
  "$@" 2>"$state/stderr" || { cat "$state/stderr" >&2; exit 1; }
}

# With "again", kelvorin runs a second time under another name: the ratio of
# the two is the resolution of the measurement, what noise alone makes of 1.
bench() {  # N RUNS JSON [again]
  local n=$1 count=$2 json=$3
  programs "$n"
  if [ "${4:-}" = again ]; then
    commands+=(-n "kelvorin, again" "$work/install/kelvorin $work/again.txt")
    prepare+=(--prepare "cp $work/rows$n.txt $work/again.txt")
  fi
  quiet hyperfine -N --style none --warmup 1 --runs "$count" "${prepare[@]}" "${commands[@]}" \
    --export-json "$json"
  check "$n"
}

# The load average (1, 5, 15 min) as a section starts: "section load1 load5 load15".
note() {  # SECTION
  echo "$1 $(cut -d' ' -f1-3 /proc/loadavg)" >>"$results/load.txt"
}

# Interleaved rounds of the durable floor and kelvorin (and kelvorin again)
# for the message to rowsN@example.com.
pairs() {  # N ROUNDS JSON [again]
  local sql
  sql=$(sed "s/%recipient%/rows$1@example.com/" "$work/query.sql" | tr '\n' ' ')
  /usr/bin/python3 - "$work" "$1" "$floor" "$dsn" "$sql" "${4:-}" >"$state/spec.json" <<'EOF'
import json, sys
work, n, floor, dsn, sql, again = sys.argv[1:]
def program(name, argv, file):
    return {"name": name, "argv": argv, "copy": ["%s/rows%s.txt" % (work, n), work + "/" + file]}
spec = [program("durable floor", [floor, dsn, "", "", sql, work + "/durable.txt"], "durable.txt"),
        program("kelvorin", [work + "/install/kelvorin", work + "/kelvorin.txt"], "kelvorin.txt")]
if again:
    spec.append(program("kelvorin, again", [work + "/install/kelvorin", work + "/again.txt"],
                        "again.txt"))
print(json.dumps(spec))
EOF
  /usr/bin/python3 bench/pairs.py "$2" "$3" "$state/spec.json"
  check "$1" kelvorin
}

# Peak resident memory in KiB, the largest of three runs: "engine program rows KiB".
memory() {  # N
  local i kib max
  programs "$1"
  for ((i = 0; i < ${#commands[@]}; i += 3)); do
    max=0
    for _ in 1 2 3; do
      eval "${prepare[i / 3 * 2 + 1]}"
      eval "/usr/bin/time -f %M -o $state/kib ${commands[i + 2]}" >/dev/null
      kib=$(tail -n 1 "$state/kib")
      [ "$kib" -gt "$max" ] && max=$kib
    done
    echo "$engine ${commands[i + 1]// /_} $1 $max" >>"$results/memory.txt"
  done
  check "$1"
}

for engine in sqlite pg; do
  dsn=kelvorin_$engine && [ $engine = pg ] && dsn=kelvorin_pg_unicode
  work=$state/work/$engine
  /usr/bin/python3 bench/data.py "$dsn" "$work"
  install "$work/install" build-bench/kelvorin
  echo "== $engine: whole runs, $runs per program in $rounds turns" \
    "(load $(cut -d' ' -f1 /proc/loadavg))"
  note "whole-$engine"
  for round in $(seq "$rounds"); do
    bench 3 $((runs / rounds)) "$results/whole-$engine-$round.json" again
  done
  echo "== $engine: $pairs interleaved rounds (load $(cut -d' ' -f1 /proc/loadavg))"
  note "pairs-$engine"
  pairs 3 "$pairs" "$results/pairs-$engine-3.json" again
  echo "== $engine: growth with the rows, and peak memory"
  note "rows-$engine"
  for n in 1 10 100 1000 5000; do
    bench "$n" 20 "$results/rows-$engine-$n.json"
    pairs "$n" "$growth" "$results/pairs-$engine-$n.json"
  done
  for n in 1 3 10 100 1000 5000; do memory "$n"; done
  if [ $wine = 1 ]; then
    echo "== $engine: kelvorin.exe under Wine"
    install "$work/install-win" build-bench-win/kelvorin.exe
    quiet hyperfine -N --style none --warmup 3 --runs 100 \
      --prepare "cp $work/rows3.txt $work/kelvorin.txt" \
      --prepare "cp $work/rows3.txt $work/wine.txt" \
      -n kelvorin "$work/install/kelvorin $work/kelvorin.txt" -n "kelvorin.exe under Wine" \
      "$root/cmake/wine-run.sh $work/install-win/kelvorin.exe $work/wine.txt" \
      --export-markdown "$results/wine-$engine.md" --export-json "$results/wine-$engine.json"
    grep -q "Order #" "$work/wine.txt" || { echo "bench.sh: Wine did not merge" >&2; exit 1; }
  fi
done

echo "== kelvorin-check on a folder of 10,000 messages (SQLite)"
note check
work=$state/work/sqlite
cp build-bench/kelvorin-check "$work/install/"
/usr/bin/python3 -c 'import shutil, sys
for i in range(10000): shutil.copy(sys.argv[1], "%s/%05d.txt" % (sys.argv[2], i))' \
  "$work/rows3.txt" "$(mkdir -p "$work/folder" && echo "$work/folder")"
# It exits 1 for the template's warning (a placeholder outside the row block):
# -i lets hyperfine time it all the same; the tally below shows every merge.
quiet hyperfine -N -i --style none --runs 3 -n "kelvorin-check FOLDER, 10,000 messages" \
  "$work/install/kelvorin-check $work/folder" --export-markdown "$results/check-folder.md"
tally=$("$work/install/kelvorin-check" "$work/folder" 2>/dev/null || true)
grep -q "would merge    10000" <<<"$tally" ||
  { echo "bench.sh: kelvorin-check did not find 10,000 messages to merge" >&2; exit 1; }

echo "== the merge alone (Google Benchmark)"
merge() {  # WHERE FOLDER
  mkdir -p "$2"
  quiet build-bench/bench/kelvorin_merge_bench --dir "$2" --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true --benchmark_out_format=json \
    --benchmark_out="$results/merge-$1.json" >/dev/null
}
note merge-disk
merge disk "$state/work/merge"
note merge-tmpfs
merge tmpfs "/dev/shm/kelvorin-bench.$$"

{
  echo "| what | value |"
  echo "|---|---|"
  echo "| CPU | $(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores |"
  echo "| kernel | $(uname -r) |"
  echo "| disk of the message files | $(findmnt -n -o FSTYPE,SOURCE -T "$state") |"
  for p in unixodbc libsqliteodbc odbc-postgresql postgresql-15 python3-pyodbc hyperfine \
    libbenchmark-dev wine64; do
    echo "| $p | $(dpkg-query -W -f '${Version}' "$p" 2>/dev/null || echo -) |"
  done
  echo "| load average (1, 5, 15 min) at the end | $(cut -d' ' -f1-3 /proc/loadavg) |"
  elapsed=$((SECONDS - start_time))
  echo "| time of scripts/bench.sh | $((elapsed / 60)) min $((elapsed % 60)) s |"
} >"$results/machine.md"

echo "== writing docs/performance.md and docs/performance-rows.png"
/usr/bin/python3 bench/report.py "$results" docs/performance.md
/usr/bin/python3 bench/plot.py "$results" docs/performance-rows.png
