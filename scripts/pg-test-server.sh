#!/usr/bin/env bash
# Starts or stops a throwaway PostgreSQL 15 for the tests, on loopback, with
# trust authentication, in a temporary folder owned by the postgres user
# (initdb refuses to run as root).
#
#   eval "$(scripts/pg-test-server.sh start)"   # exports QFX_TEST_PG_URL
#   scripts/pg-test-server.sh stop
#
# The state (data folder, port) is kept in $QFX_PG_STATE (default
# /tmp/qfx-pg-test.state) so that stop finds the server again.
set -euo pipefail

PG_BIN=${PG_BIN:-/usr/lib/postgresql/15/bin}
STATE=${QFX_PG_STATE:-/tmp/qfx-pg-test.state}
DB_NAME=qfxtest

as_postgres() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  elif [ "$(id -un)" = postgres ]; then
    "$@"
  else
    # an ordinary user can own the cluster itself
    "$@"
  fi
}

free_port() {
  local port
  for port in $(seq 55432 55532); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  echo "no free port between 55432 and 55532" >&2
  return 1
}

start() {
  if [ -f "$STATE" ]; then
    # shellcheck disable=SC1090
    . "$STATE"
    if as_postgres "$PG_BIN/pg_ctl" -D "$PGDATA_DIR" status >/dev/null 2>&1; then
      echo "export QFX_TEST_PG_URL=postgresql://postgres@127.0.0.1:$PG_PORT/$DB_NAME"
      return 0
    fi
    rm -f "$STATE"
  fi
  local dir port
  dir=$(mktemp -d /tmp/qfx-pg.XXXXXX)
  chmod 755 "$dir"
  [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$dir"
  port=$(free_port)
  as_postgres "$PG_BIN/initdb" -D "$dir/data" -A trust -U postgres -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2; exit 1; }
  # loopback only, socket in the temp folder, settings for quick throwaway runs
  as_postgres "$PG_BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-p $port -c listen_addresses=127.0.0.1 -k $dir -c max_connections=200 -c fsync=on" start >/dev/null ||
    { cat "$dir/server.log" >&2; exit 1; }
  "$PG_BIN/psql" -h 127.0.0.1 -p "$port" -U postgres -d postgres -qAt -c "CREATE DATABASE $DB_NAME" >/dev/null
  printf 'PGDATA_DIR=%q\nPG_PORT=%q\nPG_DIR=%q\n' "$dir/data" "$port" "$dir" >"$STATE"
  echo "export QFX_TEST_PG_URL=postgresql://postgres@127.0.0.1:$port/$DB_NAME"
}

stop() {
  [ -f "$STATE" ] || return 0
  # shellcheck disable=SC1090
  . "$STATE"
  as_postgres "$PG_BIN/pg_ctl" -D "$PGDATA_DIR" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$PG_DIR"
  rm -f "$STATE"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
