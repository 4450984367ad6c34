#!/usr/bin/env bash
# engines.sh start|stop <state-dir> [--scale]: throwaway servers for the tests and benchmarks
# (PostgreSQL 15, MariaDB; as root on Debian 12) in a folder of a short path (a socket's holds 107
# bytes), and an odbc.ini naming drivers by path: kelvorin_sqlite, kelvorin_pg_ansi,
# kelvorin_pg_unicode, kelvorin_pg_cursor (ANSI, 100 rows a fetch), kelvorin_maria, for
# ODBCINI=<state-dir>/odbc.ini ODBCSYSINI=<state-dir>. --scale adds a mailing's scale-out
# (<state-dir>/scale, see scale_start): a PostgreSQL primary, a hot standby streaming from it and
# PgBouncer in front of the standby, as kelvorin_scale_primary, kelvorin_scale_standby and
# kelvorin_scale_pooler (Unicode driver; kelvorin_scale_pooler_ansi: the ANSI one).
set -euo pipefail
[ $# -eq 2 ] || [ $# -eq 3 ] && [ "${3:---scale}" = --scale ] && [ "$(id -u)" -eq 0 ] ||
  { echo "usage, as root: engines.sh start|stop <state-dir> [--scale]" >&2; exit 2; }
st=$(mkdir -p "$2" && cd "$2" && pwd -P)
bin=/usr/lib/postgresql/15/bin lib=/usr/lib/x86_64-linux-gnu/odbc
as() { (cd / && runuser -u "$@"); }  # the servers refuse to run as root
maria() { "$1" --no-defaults --socket="$st/maria/mysqld.sock" -uroot "${@:2}"; }
maria_opts=(--no-defaults --user=mysql --datadir="$st/maria/data" --innodb-log-file-size=16M)

# The scale-out, all on sockets in <state-dir>/scale (the ports only name them): a primary
# (5441), a hot standby (5442) made from its base backup and streaming from it, and PgBouncer
# (5443) in front of the standby, pooling by transaction. The role kelvorin logs in with
# SCRAM everywhere, as on a real host; postgres (trust) administers, and is PgBouncer's admin
# with the password admin-pw. max_connections stays 100: the benchmark's 64 at once fit.
scale=$st/scale
scale_stop() {
  [ -f "$scale/pgbouncer.pid" ] && kill "$(cat "$scale/pgbouncer.pid")" 2>/dev/null || true
  for _ in $(seq 50); do [ -e "$scale/pgbouncer.pid" ] && sleep 0.1 || break; done
  for d in standby primary; do
    as postgres -- "$bin/pg_ctl" -D "$scale/$d" -m immediate -w stop >/dev/null 2>&1 || true
  done
  rm -rf "$scale"
}
scale_start() {
  mkdir -p "$scale" && chown postgres: "$scale"
  as postgres -- "$bin/initdb" -D "$scale/primary" -U postgres --auth=trust -E UTF8 --locale=C \
    --no-sync >"$scale/initdb.log"
  printf 'local %s\n' 'replication postgres trust' 'all postgres trust' 'all all scram-sha-256' \
    >"$scale/primary/pg_hba.conf"
  # In the servers' own files, so that a plain pg_ctl restart (a fault test's) finds them again.
  printf "unix_socket_directories = '%s'\nlisten_addresses = ''\nfsync = off\nport = 5441\n" \
    "$scale" >>"$scale/primary/postgresql.conf"
  as postgres -- "$bin/pg_ctl" -D "$scale/primary" -l "$scale/primary.log" -w start >/dev/null
  as postgres -- "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$scale" -p 5441 -U postgres \
    -c "CREATE ROLE kelvorin LOGIN PASSWORD 'kelvorin-pw'" \
    -c "CREATE DATABASE kelvorin OWNER kelvorin ENCODING 'UTF8' TEMPLATE template0"
  as postgres -- "$bin/pg_basebackup" -h "$scale" -p 5441 -U postgres -D "$scale/standby" -R \
    --checkpoint=fast --no-sync
  echo "port = 5442" >>"$scale/standby/postgresql.conf"
  as postgres -- "$bin/pg_ctl" -D "$scale/standby" -l "$scale/standby.log" -w start >/dev/null
  # Transaction pooling: a server connection is the client's only while a statement runs.
  # psqlODBC (both drivers) sends a query without parameters as a plain query, nothing prepared
  # on the server, so its defaults work; the SETs it sends at login (DateStyle,
  # extra_float_digits) and before a query with a timeout (statement_timeout) land on whichever
  # server connection is free, harmless while every client of the pool sends the same.
  cat >"$scale/pgbouncer.ini" <<EOF_PGB
[databases]
kelvorin = host=$scale port=5442 dbname=kelvorin
[pgbouncer]
listen_addr =
listen_port = 5443
unix_socket_dir = $scale
auth_type = scram-sha-256
auth_file = $scale/userlist.txt
admin_users = postgres
pool_mode = transaction
default_pool_size = 8
max_client_conn = 1000
query_wait_timeout = 120
logfile = $scale/pgbouncer.log
pidfile = $scale/pgbouncer.pid
EOF_PGB
  printf '"kelvorin" "kelvorin-pw"\n"postgres" "admin-pw"\n' >"$scale/userlist.txt"
  chown postgres: "$scale/pgbouncer.ini" "$scale/userlist.txt" && chmod 600 "$scale/userlist.txt"
  as postgres -- /usr/sbin/pgbouncer -d -q "$scale/pgbouncer.ini"
  for _ in $(seq 100); do [ -S "$scale/.s.PGSQL.5443" ] && break || sleep 0.1; done
}

# What an earlier start left; both wait until their server has ended.
as postgres -- "$bin/pg_ctl" -D "$st/pg/data" -m fast -w stop >/dev/null 2>&1 || true
maria mariadb-admin shutdown >/dev/null 2>&1 || true
scale_stop
rm -rf "$st/pg" "$st/maria" "$st/sqlite"
[ "$1" = start ] || exit 0

mkdir -p "$st/pg/data" "$st/maria/data" "$st/sqlite"
chown -R postgres: "$st/pg" && chown -R mysql: "$st/maria" && chmod 700 "$st/pg/data"
as postgres -- "$bin/initdb" -D "$st/pg/data" -U postgres --auth=trust -E UTF8 --locale=C \
  --no-sync >"$st/pg/initdb.log"
as postgres -- "$bin/pg_ctl" -D "$st/pg/data" -l "$st/pg/server.log" -w -o \
  "-k $st/pg -c listen_addresses= -c fsync=off -c full_page_writes=off" start >/dev/null
as postgres -- "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$st/pg" -U postgres -d postgres \
  -c "CREATE ROLE kelvorin LOGIN PASSWORD 'kelvorin-pw'" \
  -c "CREATE DATABASE kelvorin OWNER kelvorin ENCODING 'UTF8' TEMPLATE template0"
mariadb-install-db "${maria_opts[@]}" --auth-root-authentication-method=socket --skip-test-db \
  >"$st/maria/install.log"
# The value tests count to 6000 with a recursive query: past the default 1000 steps.
setsid /usr/sbin/mariadbd "${maria_opts[@]}" --socket="$st/maria/mysqld.sock" \
  --skip-networking --log-error="$st/maria/server.log" --character-set-server=utf8mb4 \
  --innodb-flush-log-at-trx-commit=0 --skip-log-bin --max-recursive-iterations=100000 \
  </dev/null >/dev/null 2>&1 &
for _ in $(seq 300); do maria mariadb -e "SELECT 1" >/dev/null 2>&1 && break || sleep 0.1; done
maria mariadb -e "CREATE DATABASE kelvorin CHARACTER SET utf8mb4; GRANT ALL ON kelvorin.*
  TO kelvorin@localhost IDENTIFIED BY 'kelvorin-pw'"

pg="Servername=$st/pg\nDatabase=kelvorin\nUsername=kelvorin\nPassword=kelvorin-pw"
mdb="Socket=$st/maria/mysqld.sock\nDatabase=kelvorin\nUID=kelvorin\nPWD=kelvorin-pw"
printf '%b\n\n' >"$st/odbc.ini" \
  "[kelvorin_sqlite]\nDriver=$lib/libsqlite3odbc.so\nDatabase=$st/sqlite/test.db\nTimeout=20000" \
  "[kelvorin_pg_ansi]\nDriver=$lib/psqlodbca.so\n$pg" \
  "[kelvorin_pg_unicode]\nDriver=$lib/psqlodbcw.so\n$pg" \
  "[kelvorin_pg_cursor]\nDriver=$lib/psqlodbca.so\n$pg\nUseDeclareFetch=1\nFetch=100" \
  "[kelvorin_maria]\nDriver=$lib/libmaodbc.so\n$mdb\nCHARSET=utf8mb4"
# One data source per path of the scale-out, and kelvorin_scale_silent: a socket folder where a
# fault test puts a server that takes logins and never answers.
scale_sources() {
  local creds="Database=kelvorin\nUsername=kelvorin\nPassword=kelvorin-pw" dsn
  mkdir "$scale/silent"
  for dsn in "primary w $scale 5441" "standby w $scale 5442" "pooler w $scale 5443" \
    "pooler_ansi a $scale 5443" "silent w $scale/silent 5999"; do
    set -- $dsn
    printf '[kelvorin_scale_%s]\nDriver=%s/psqlodbc%s.so\nServername=%s\nPort=%s\n%b\n\n' \
      "$1" "$lib" "$2" "$3" "$4" "$creds" >>"$st/odbc.ini"
  done
}
[ "${3:-}" != --scale ] || { scale_start && scale_sources; }
# ODBCSYSINI: a folder without odbcinst.ini (Debian's gives psqlODBC CommLog=1: a log in /tmp).
echo "ODBCINI=$st/odbc.ini ODBCSYSINI=$st"
