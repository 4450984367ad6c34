#!/usr/bin/env bash
# Starts or stops the database engines that the engine tests run against, all
# kept under one state folder, and writes an odbc.ini naming every driver by
# its path, so nothing under /etc is needed or changed:
#
#   engines.sh start <state-dir>   fresh SQLite file, fresh PostgreSQL 15 server
#   engines.sh stop <state-dir>    stops the server and removes its files
#
# Point ODBCINI at <state-dir>/odbc.ini to reach the data sources
# kelvorin_sqlite, kelvorin_pg_ansi and kelvorin_pg_unicode, and ODBCSYSINI at
# <state-dir> for the drivers' global options (see write_odbcinst_ini). Runs as
# root on Debian 12 with postgresql-15 odbc-postgresql libsqliteodbc unixodbc
# sqlite3.
set -euo pipefail

PG_BIN=${KELVORIN_PG_BIN:-/usr/lib/postgresql/15/bin}
ODBC_LIB=${KELVORIN_ODBC_LIB:-/usr/lib/x86_64-linux-gnu/odbc}
DB_NAME=kelvorin
DB_USER=kelvorin
DB_PASSWORD=kelvorin

die() { echo "engines.sh: $*" >&2; exit 1; }

# PostgreSQL refuses to run as root: its tools run as the postgres user, from
# a folder that user may enter.
as_postgres() { (cd / && runuser -u postgres -- "$@"); }

# The first port from 54329 up with nothing listening on it. The server opens
# no TCP port, only a socket in its own folder that the number names; a free
# one keeps it from being taken for another server on that port.
free_port() {
  local port
  for port in $(seq 54329 54429); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return
    fi
  done
  die "no free port in 54329..54429"
}

stop_server() {
  local pg=$1
  if [ -f "$pg/data/postmaster.pid" ]; then
    as_postgres "$PG_BIN/pg_ctl" -D "$(readlink -f "$pg/data")" -m fast -w stop \
      >/dev/null 2>&1 || true
  fi
  # After a crash the folder may be a link into /tmp (see make_pg_root).
  if [ -L "$pg" ]; then rm -rf "$(readlink -f "$pg")"; fi
  rm -rf "$pg"
}

# The server's folder under the state folder. When the postgres user cannot
# reach the state folder (say, one under /root), or the path is too long for a
# unix socket (about 107 bytes), it lives in /tmp instead and the state folder
# holds a link to it.
make_pg_root() {
  local state=$1 pg=$1/pg
  if [ ${#state} -le 60 ] && as_postgres test -x "$state"; then
    mkdir -p "$pg"
  else
    ln -s "$(mktemp -d /tmp/kelvorin-pg.XXXXXX)" "$pg"
  fi
  mkdir -p "$pg/data" "$pg/run"
  chown -R postgres: "$(readlink -f "$pg")"
  chmod 700 "$pg/data"
}

start_server() {
  local pg=$1 port=$2
  [ -x "$PG_BIN/initdb" ] || die "no $PG_BIN/initdb: install postgresql-15"
  as_postgres "$PG_BIN/initdb" -D "$pg/data" -U postgres --auth=trust -E UTF8 \
    --locale=C --no-sync >"$pg/initdb.log" 2>&1 || die "initdb failed, see $pg/initdb.log"
  # A throwaway server: no durability, no TCP, the socket in our own folder.
  as_postgres "$PG_BIN/pg_ctl" -D "$pg/data" -l "$pg/server.log" -w -o \
    "-p $port -k $pg/run -c listen_addresses= -c fsync=off -c full_page_writes=off" \
    start >/dev/null || die "server did not start, see $pg/server.log"
}

create_database() {
  local pg=$1 port=$2
  local psql=("$PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$pg/run" -p "$port" -U postgres)
  as_postgres "${psql[@]}" -d postgres \
    -c "CREATE ROLE $DB_USER LOGIN PASSWORD '$DB_PASSWORD'" \
    -c "CREATE DATABASE $DB_NAME OWNER $DB_USER ENCODING 'UTF8' TEMPLATE template0"
}

write_odbc_ini() {
  local state=$1 port=$2 pg=$3 driver kind
  {
    printf '[kelvorin_sqlite]\nDriver=%s\nDatabase=%s\nTimeout=20000\n\n' \
      "$ODBC_LIB/libsqlite3odbc.so" "$state/sqlite/test.db"
    for kind in ansi unicode; do
      driver="psqlodbc$([ $kind = ansi ] && echo a || echo w).so"
      printf '[kelvorin_pg_%s]\nDriver=%s\nServername=%s\nPort=%s\n' \
        "$kind" "$ODBC_LIB/$driver" "$pg/run" "$port"
      printf 'Database=%s\nUsername=%s\nPassword=%s\n\n' "$DB_NAME" "$DB_USER" "$DB_PASSWORD"
    done
  } >"$state/odbc.ini"
}

# psqlODBC reads its global options from the odbcinst.ini section of its own
# name. Debian registers both drivers with CommLog=1 in /etc/odbcinst.ini, so
# every connection would leave a /tmp/psqlodbc_*.log behind; ours turns it off.
write_odbcinst_ini() {
  local state=$1 name
  for name in "PostgreSQL ANSI" "PostgreSQL Unicode"; do
    printf '[%s]\nDebug=0\nCommLog=0\n\n' "$name"
  done >"$state/odbcinst.ini"
}

start() {
  local state=$1 port pg lib
  for lib in libsqlite3odbc.so psqlodbca.so psqlodbcw.so; do
    [ -f "$ODBC_LIB/$lib" ] || die "no $ODBC_LIB/$lib: install libsqliteodbc odbc-postgresql"
  done
  stop_server "$state/pg"
  make_pg_root "$state"
  port=$(free_port)
  # The server's own paths must not go through the link.
  pg=$(readlink -f "$state/pg")
  start_server "$pg" "$port"
  create_database "$pg" "$port"
  rm -rf "$state/sqlite"
  mkdir -p "$state/sqlite"
  write_odbc_ini "$state" "$port" "$pg"
  write_odbcinst_ini "$state"
  echo "odbc.ini:   $state/odbc.ini (export ODBCINI=$state/odbc.ini ODBCSYSINI=$state)"
  echo "SQLite:     $state/sqlite/test.db"
  echo "PostgreSQL: socket $pg/run port $port, database $DB_NAME," \
    "user $DB_USER, log $pg/server.log"
}

[ $# -eq 2 ] || die "usage: engines.sh start|stop <state-dir>"
[ "$(id -u)" -eq 0 ] || die "run as root (the server runs as the postgres user)"
[ "$1" = stop ] && [ ! -d "$2" ] && exit 0
mkdir -p "$2"
state=$(cd "$2" && pwd -P)
case $1 in
  start) start "$state" ;;
  stop) stop_server "$state/pg" && echo "PostgreSQL under $state stopped" ;;
  *) die "usage: engines.sh start|stop <state-dir>" ;;
esac
