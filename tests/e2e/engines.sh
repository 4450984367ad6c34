#!/usr/bin/env bash
# Starts or stops the database engines that the engine tests run against, all
# kept under one state folder, and writes an odbc.ini naming every driver by
# its path, so nothing under /etc is needed or changed:
#
#   engines.sh start <state-dir>   fresh SQLite file, fresh PostgreSQL 15 and
#                                  MariaDB servers
#   engines.sh stop <state-dir>    stops the servers and removes their files
#
# Point ODBCINI at <state-dir>/odbc.ini to reach the data sources
# kelvorin_sqlite, kelvorin_pg_ansi, kelvorin_pg_unicode and kelvorin_maria,
# and ODBCSYSINI at <state-dir> for the drivers' global options (see
# write_odbcinst_ini). Runs as root on Debian 12 with postgresql-15
# odbc-postgresql mariadb-server odbc-mariadb libsqliteodbc unixodbc sqlite3.
set -euo pipefail

PG_BIN=${KELVORIN_PG_BIN:-/usr/lib/postgresql/15/bin}
MARIA_SERVER=${KELVORIN_MARIA_SERVER:-/usr/sbin/mariadbd}
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
  remove_server_root "$pg"
}

# A server's folder, <state>/<name>, owned by the user it runs as. When that
# user cannot reach the state folder (say, one under /root), or the path is
# too long for a unix socket (about 107 bytes), it lives in /tmp instead and
# the state folder holds a link to it.
make_server_root() {
  local state=$1 name=$2 user=$3 root=$1/$2
  if [ ${#state} -le 60 ] && (cd / && runuser -u "$user" -- test -x "$state"); then
    mkdir -p "$root"
  else
    ln -s "$(mktemp -d "/tmp/kelvorin-$name.XXXXXX")" "$root"
  fi
  mkdir -p "$root/data" "$root/run"
  chown -R "$user:" "$(readlink -f "$root")"
  chmod 700 "$root/data"
}

# Removes a server's folder, and its target in /tmp when it is a link.
remove_server_root() {
  local root=$1
  if [ -L "$root" ]; then rm -rf "$(readlink -f "$root")"; fi
  rm -rf "$root"
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

# ---------------------------------------------------------------- MariaDB

# The running server of a MariaDB folder, from its pid file; empty when none
# runs. The name check keeps a stale file from naming a process that reused
# the number after a crash.
maria_pid() {
  local pid
  pid=$(cat "$1/run/mariadbd.pid" 2>/dev/null) || return 0
  if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = mariadbd ]; then echo "$pid"; fi
}

stop_maria() {
  local maria=$1 pid
  pid=$(maria_pid "$maria")
  if [ -n "$pid" ]; then
    kill "$pid"  # SIGTERM: a clean shutdown
    for _ in $(seq 300); do
      [ -d "/proc/$pid" ] || break
      sleep 0.1
    done
    if [ -d "/proc/$pid" ]; then kill -9 "$pid"; fi
  fi
  remove_server_root "$maria"
}

# A throwaway server like the PostgreSQL one: no option files (the system's
# /etc/mysql is not ours), no TCP, the socket in its own folder, no
# durability. It runs as the mysql user, detached from this script. A
# recursive query may run past the default 1000 steps (the engine tests count
# to 6000 that way).
start_maria() {
  local maria=$1
  local opts=(--no-defaults --user=mysql --datadir="$maria/data" --innodb-log-file-size=16M)
  mariadb-install-db "${opts[@]}" --auth-root-authentication-method=socket --skip-test-db \
    --skip-name-resolve >"$maria/install.log" 2>&1 ||
    die "mariadb-install-db failed, see $maria/install.log"
  setsid "$MARIA_SERVER" "${opts[@]}" --socket="$maria/run/mysqld.sock" \
    --pid-file="$maria/run/mariadbd.pid" --skip-networking --log-error="$maria/server.log" \
    --character-set-server=utf8mb4 --innodb-buffer-pool-size=64M \
    --innodb-flush-log-at-trx-commit=0 --innodb-doublewrite=0 --skip-log-bin \
    --max-recursive-iterations=100000 \
    </dev/null >/dev/null 2>&1 &
  for _ in $(seq 300); do
    maria_sql "$maria" -e "SELECT 1" >/dev/null 2>&1 && return
    sleep 0.1
  done
  die "MariaDB did not start, see $maria/server.log"
}

# The client as the server's root, whom the socket lets in as the unix root.
maria_sql() {
  local maria=$1
  shift
  mariadb --no-defaults --socket="$maria/run/mysqld.sock" -uroot "$@"
}

create_maria_database() {
  maria_sql "$1" -e "CREATE DATABASE $DB_NAME CHARACTER SET utf8mb4;
    CREATE USER '$DB_USER'@'localhost' IDENTIFIED BY '$DB_PASSWORD';
    GRANT ALL PRIVILEGES ON $DB_NAME.* TO '$DB_USER'@'localhost';"
}

# ---------------------------------------------------------------- odbc.ini

write_odbc_ini() {
  local state=$1 port=$2 pg=$3 maria=$4 driver kind
  {
    printf '[kelvorin_sqlite]\nDriver=%s\nDatabase=%s\nTimeout=20000\n\n' \
      "$ODBC_LIB/libsqlite3odbc.so" "$state/sqlite/test.db"
    for kind in ansi unicode; do
      driver="psqlodbc$([ $kind = ansi ] && echo a || echo w).so"
      printf '[kelvorin_pg_%s]\nDriver=%s\nServername=%s\nPort=%s\n' \
        "$kind" "$ODBC_LIB/$driver" "$pg/run" "$port"
      printf 'Database=%s\nUsername=%s\nPassword=%s\n\n' "$DB_NAME" "$DB_USER" "$DB_PASSWORD"
    done
    printf '[kelvorin_maria]\nDriver=%s\nSocket=%s\nDatabase=%s\n' \
      "$ODBC_LIB/libmaodbc.so" "$maria/run/mysqld.sock" "$DB_NAME"
    printf 'UID=%s\nPWD=%s\nCHARSET=utf8mb4\n\n' "$DB_USER" "$DB_PASSWORD"
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
  local state=$1 port pg maria lib
  for lib in libsqlite3odbc.so psqlodbca.so psqlodbcw.so libmaodbc.so; do
    [ -f "$ODBC_LIB/$lib" ] ||
      die "no $ODBC_LIB/$lib: install libsqliteodbc odbc-postgresql odbc-mariadb"
  done
  [ -x "$MARIA_SERVER" ] || die "no $MARIA_SERVER: install mariadb-server"
  stop_all "$state"
  make_server_root "$state" pg postgres
  port=$(free_port)
  # The server's own paths must not go through the link.
  pg=$(readlink -f "$state/pg")
  start_server "$pg" "$port"
  create_database "$pg" "$port"
  make_server_root "$state" maria mysql
  maria=$(readlink -f "$state/maria")
  start_maria "$maria"
  create_maria_database "$maria"
  rm -rf "$state/sqlite"
  mkdir -p "$state/sqlite"
  write_odbc_ini "$state" "$port" "$pg" "$maria"
  write_odbcinst_ini "$state"
  echo "odbc.ini:   $state/odbc.ini (export ODBCINI=$state/odbc.ini ODBCSYSINI=$state)"
  echo "SQLite:     $state/sqlite/test.db"
  echo "PostgreSQL: socket $pg/run port $port, database $DB_NAME," \
    "user $DB_USER, log $pg/server.log"
  echo "MariaDB:    socket $maria/run/mysqld.sock, database $DB_NAME, user $DB_USER," \
    "log $maria/server.log"
}

stop_all() {
  stop_server "$1/pg"
  stop_maria "$1/maria"
}

[ $# -eq 2 ] || die "usage: engines.sh start|stop <state-dir>"
[ "$(id -u)" -eq 0 ] || die "run as root (the servers run as the postgres and mysql users)"
[ "$1" = stop ] && [ ! -d "$2" ] && exit 0
mkdir -p "$2"
state=$(cd "$2" && pwd -P)
case $1 in
  start) start "$state" ;;
  stop) stop_all "$state" && echo "PostgreSQL and MariaDB under $state stopped" ;;
  *) die "usage: engines.sh start|stop <state-dir>" ;;
esac
