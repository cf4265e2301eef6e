#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test, on SQLite
# and on a throwaway PostgreSQL server of its own (loopback, stopped at exit).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}

bash scripts/install-deps.sh
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
ninja -C "$BUILD_DIR" -j2

if [ -f scripts/pg-test-server.sh ]; then
  PG_ENV=$(mktemp)
  trap 'bash scripts/pg-test-server.sh stop; rm -f "$PG_ENV"' EXIT
  bash scripts/pg-test-server.sh start > "$PG_ENV"
  # shellcheck disable=SC1090
  source "$PG_ENV"
fi

ctest --test-dir "$BUILD_DIR" --output-on-failure -j2
