#!/bin/sh
# Stops the database servers of a faults_pg run and removes its state folder,
# which the run notes in a file. The run calls this at its end; ctest calls it
# again afterwards (faults_pg_cleanup), in case the run was stopped from
# outside first (its timeout), so that no server outlives the tests.
#
#   stop_servers.sh <note file> <engines.sh>
note=$1 engines=$2
[ -s "$note" ] || exit 0
state=$(cat "$note")
# Immediate: a server killed in the middle of its recovery may never finish a
# fast shutdown, which is what engines.sh asks for.
data="$state/pg/data"
if [ -f "$data/postmaster.pid" ]; then
  (cd / && runuser -u postgres -- "${KELVORIN_PG_BIN:-/usr/lib/postgresql/15/bin}/pg_ctl" \
    -D "$(readlink -f "$data")" -m immediate -w stop) >/dev/null 2>&1 || true
fi
"$engines" stop "$state" >/dev/null 2>&1 || true
rm -rf "$state" "$note"
