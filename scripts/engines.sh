#!/usr/bin/env bash
# engines.sh start|stop <state-dir>: throwaway servers for the tests and benchmarks (PostgreSQL 15, MariaDB;
# as root on Debian 12) in a folder of a short path (a socket's holds 107 bytes), and an odbc.ini
# naming drivers by path: kelvorin_sqlite, kelvorin_pg_ansi, kelvorin_pg_unicode, kelvorin_pg_cursor
# (ANSI, 100 rows a fetch), kelvorin_maria, for ODBCINI=<state-dir>/odbc.ini ODBCSYSINI=<state-dir>.
set -euo pipefail
[ $# -eq 2 ] && [ "$(id -u)" -eq 0 ] ||
  { echo "usage, as root: engines.sh start|stop <state-dir>" >&2; exit 2; }
st=$(mkdir -p "$2" && cd "$2" && pwd -P)
bin=/usr/lib/postgresql/15/bin lib=/usr/lib/x86_64-linux-gnu/odbc
as() { (cd / && runuser -u "$@"); }  # the servers refuse to run as root
maria() { "$1" --no-defaults --socket="$st/maria/mysqld.sock" -uroot "${@:2}"; }
maria_opts=(--no-defaults --user=mysql --datadir="$st/maria/data" --innodb-log-file-size=16M)

# What an earlier start left; both wait until their server has ended.
as postgres -- "$bin/pg_ctl" -D "$st/pg/data" -m fast -w stop >/dev/null 2>&1 || true
maria mariadb-admin shutdown >/dev/null 2>&1 || true
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
# ODBCSYSINI: a folder without odbcinst.ini (Debian's gives psqlODBC CommLog=1: a log in /tmp).
echo "ODBCINI=$st/odbc.ini ODBCSYSINI=$st"
