#!/usr/bin/env bash
# Measures a mailing at scale and writes build-bench/scale/table.md (the table of
# docs/scaling.md). Not part of the test run. As root on Debian 12:
#
#   scripts/bench-scale.sh [--messages N] [--at-once "4 16 64"] [--paths "sqlite primary
#                          standby pooler"] [--single N]
#
# N messages (default 10,000) to N customers of the demo's shape (three orders
# each), C instances at once for each C, started by xargs -P as a host runs
# them, on each path: SQLite; PostgreSQL's primary, its hot standby and
# PgBouncer in front of the standby (scripts/engines.sh --scale); and the
# durable floor (bench/floor.c: connect, query, fetch, replace the file
# durably) on SQLite and through PgBouncer. Per run: messages/s, the median
# and 99th percentile of one message's run (bench/timed.c), the server
# connections at their peak, the CPU seconds of each part (servers, pooler,
# the programs with xargs) and every message checked exact with its log lines
# (bench/mailing.py). Then, one message at a time (--single runs, default
# 200), where a run's time goes: process and driver start, connection,
# authentication, the query, the durable write.
set -eEuo pipefail
cd "$(dirname "$0")/.."
root=$PWD
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
messages=10000 at_once="4 16 64" paths="sqlite primary standby pooler" single=200
while [ $# -gt 0 ]; do
  case $1 in
    --messages) messages=$2; shift 2 ;;
    --at-once) at_once=$2; shift 2 ;;
    --paths) paths=$2; shift 2 ;;
    --single) single=$2; shift 2 ;;
    *) echo "usage: scripts/bench-scale.sh [--messages N] [--at-once \"C...\"] [--paths \"P...\"]" \
      "[--single N]" >&2
      exit 2 ;;
  esac
done
trap 'echo "bench-scale.sh: failed at line $LINENO" >&2' ERR

scripts/install-missing.sh cmake g++ unixodbc unixodbc-dev libsqliteodbc sqlite3 postgresql-15 \
  odbc-postgresql mariadb-server odbc-mariadb pgbouncer python3-pyodbc time
echo "== building Release (build-bench)"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKELVORIN_TESTS=OFF >/dev/null
cmake --build build-bench -j 2 --target kelvorin kelvorin_floor kelvorin_timed >/dev/null
timed=$root/build-bench/bench/kelvorin_timed floor=$root/build-bench/bench/kelvorin_floor

state=$(mktemp -d /tmp/kelvorin-scale.XXXXXX)
chmod 755 "$state"
cleanup() {
  scripts/engines.sh stop "$state" >/dev/null 2>&1 || true
  rm -rf "$state"
}
trap cleanup EXIT
echo "== starting the servers ($state)"
scripts/engines.sh start "$state" --scale >/dev/null
export ODBCINI=$state/odbc.ini ODBCSYSINI=$state
scale=$state/scale
results=$root/build-bench/scale
rm -rf "$results" && mkdir -p "$results"
mailing() { /usr/bin/python3 "$root/bench/mailing.py" "$@"; }

echo "== $messages customers on SQLite and on the primary; messages"
mailing fill kelvorin_sqlite "$messages"
mailing fill kelvorin_scale_primary "$messages"
mailing fill kelvorin_pg_unicode "$messages"  # the same server without SCRAM (initdb's trust)
# The standby has them once it has replayed the primary's WAL to its end.
lsn=$(runuser -u postgres -- psql -XAtqh "$scale" -p 5441 -c "SELECT pg_current_wal_lsn()")
until [ "$(runuser -u postgres -- psql -XAtqh "$scale" -p 5442 \
  -c "SELECT pg_last_wal_replay_lsn() >= '$lsn'")" = t ]; do sleep 0.2; done
mailing messages "$state/messages" "$messages"

# The servers' processes: the postmaster of each (its ended backends count in its
# children's CPU time) and PgBouncer.
pid_of() { head -n 1 "$1"; }
parts="primary=$(pid_of "$scale/primary/postmaster.pid") standby=$(pid_of \
  "$scale/standby/postmaster.pid") pgbouncer=$(pid_of "$scale/pgbouncer.pid")"

# One mailing: PATH C KIND (kelvorin or floor). Appends a JSON line to results.
run() {
  local path=$1 c=$2 kind=$3 dsn=kelvorin_$1 work=$state/run
  [ "$path" = sqlite ] || dsn=kelvorin_scale_$1
  rm -rf "$work" && cp -r "$state/messages" "$work" && cd "$work"
  printf '[Database]\r\nSource=%s\r\nRequest=query.sql\r\n[Options]\r\nQuarantine=q\r\n' \
    "$dsn" >kelvorin.INI
  mkdir q && cp "$root/build-bench/kelvorin" . && sync
  # shellcheck disable=SC2086  # the parts are words
  mailing sample "$work/sample.json" $parts &
  local sampler=$!
  if [ "$kind" = floor ]; then
    mailing floor-args "$work" "$messages" "$dsn" >"$state/args"
    /usr/bin/time -f "%e %U %S" -o "$work/time" xargs -0 -n 5 -P "$c" -a "$state/args" \
      "$timed" "$floor" >"$work/times"
  else
    ls m*.txt | /usr/bin/time -f "%e %U %S" -o "$work/time" xargs -n 1 -P "$c" "$timed" \
      ./kelvorin >"$work/times"
  fi
  touch "$work/sample.json.stop"
  wait "$sampler"
  local check
  if [ "$kind" = floor ]; then check=$(mailing check-floor "$work" "$messages")
  else check=$(mailing check "$work" "$messages" "$work/kelvorin.LOG"); fi
  /usr/bin/python3 - "$path" "$c" "$kind" "$messages" "$check" "$(cat "$work/time")" \
    "$work" >>"$results/runs.jsonl" <<'PY'
import json, statistics, sys
path, c, kind, n, check, time, work = sys.argv[1:]
times = sorted(int(t) for t in open(work + '/times'))
wall, user, system = map(float, time.split())
sample = json.load(open(work + '/sample.json'))
print(json.dumps(dict(path=path, at_once=int(c), kind=kind, messages=int(n), wall=wall,
      rate=int(n) / wall, median_ms=statistics.median(times) / 1000,
      p99_ms=times[int(len(times) * 0.99)] / 1000, programs_cpu=user + system,
      wrong=int(check.split()[0]), log_off=int(check.split()[1]), **sample)))
PY
  cd "$root"
  tail -n 1 "$results/runs.jsonl"
}

echo "== mailings of $messages messages (load $(cut -d' ' -f1 /proc/loadavg))"
for c in $at_once; do
  for path in $paths; do run "$path" "$c" kelvorin; done
  for path in $paths; do
    if [ "$path" = sqlite ] || [ "$path" = pooler ]; then run "$path" "$c" floor; fi
  done
done

# One message at a time: the median of --single runs of each step on each path.
echo "== where one run's time goes, $single runs each"
sql=$(sed "s/%recipient%/customer1@example.com/" "$state/messages/query.sql")
step() {  # NAME DSN PROGRAM ARGS...
  local name=$1 dsn=$2
  shift 2
  for _ in $(seq "$single"); do
    cp "$state/messages/m00001.txt" "$state/one.txt"
    "$timed" "$@" >>"$state/step" 2>/dev/null
  done
  echo "$name $dsn $(sort -n "$state/step" | sed -n "$((single / 2))p")" >>"$results/steps.txt"
  rm -f "$state/step"
}
mkdir -p "$state/one" && cp build-bench/kelvorin "$state/messages/query.sql" "$state/one/"
for dsn in kelvorin_sqlite kelvorin_pg_unicode kelvorin_scale_primary kelvorin_scale_standby \
  kelvorin_scale_pooler kelvorin_scale_pooler_ansi; do
  step "SELECT 1" "$dsn" "$floor" "$dsn" "" "" "SELECT 1"
  step "the query" "$dsn" "$floor" "$dsn" "" "" "$sql"
  step "durable floor" "$dsn" "$floor" "$dsn" "" "" "$sql" "$state/one.txt"
  printf '[Database]\r\nSource=%s\r\nRequest=query.sql\r\n' "$dsn" >"$state/one/kelvorin.INI"
  step kelvorin "$dsn" "$state/one/kelvorin" "$state/one.txt"
done
cat "$results/steps.txt"

{
  echo "| what | value |"
  echo "|---|---|"
  echo "| CPU | $(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores |"
  echo "| kernel | $(uname -r) |"
  echo "| disk of the message files | $(findmnt -n -o FSTYPE,SOURCE -T "$state") |"
  for p in postgresql-15 pgbouncer odbc-postgresql libsqliteodbc unixodbc; do
    echo "| $p | $(dpkg-query -W -f '${Version}\n' "$p" 2>/dev/null | head -n 1) |"
  done
  echo "| load average (1, 5, 15 min) at the start | $load_start |"
  echo "| load average (1, 5, 15 min) at the end | $(cut -d' ' -f1-3 /proc/loadavg) |"
  echo "| time of scripts/bench-scale.sh | $((SECONDS / 60)) min $((SECONDS % 60)) s |"
} >"$results/machine.md"
/usr/bin/python3 "$root/bench/mailing.py" table "$results" >"$results/table.md"
cat "$results/table.md"
