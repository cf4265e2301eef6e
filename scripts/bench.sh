#!/usr/bin/env bash
# Builds the benchmark programs and prints every figure, each against the bare
# database doing the same work in the same run: list load, Z check, host
# memory and concurrent load (app_bench), then posting (posting_bench), then
# the host moving to a second server when the first is killed (failover_bench),
# then report 01 to its first page, PDF and spreadsheets (report_bench).
#
#   scripts/bench.sh [--pg URL] [--release] [--duration S] [--clients N]
#                    [--sizes 100000,1000000] [--posting-sizes 100000] [--only list,calls,z,memory,load]
#                    [--keep-data] [--report-sizes 100000,1000000]
#
#   --pg URL     PostgreSQL too (default: $QFX_TEST_PG_URL); the user must be
#                allowed to create databases. scripts/pg-test-server.sh start gives one.
#   --release    build in build-bench with CMAKE_BUILD_TYPE=Release (default:
#                the RelWithDebInfo tree in $BUILD_DIR, or build)
#   --duration   seconds of the load figure (default 60); --clients its clients (50)
#   --keep-data  app_bench keeps its generated databases and reuses them in a
#                later run of the same day (PostgreSQL takes minutes to fill)
#   --report-sizes  sale items qfxdemo generates for report_bench (SQLite; the
#                databases stay in $BUILD_DIR/bench-data for later runs)
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build}
BUILD_TYPE=RelWithDebInfo
PG=${QFX_TEST_PG_URL:-}
APP_ARGS=()
POSTING_SIZES=100000
REPORT_SIZES=100000,1000000
while [ $# -gt 0 ]; do
  case "$1" in
    --pg) PG=$2; shift 2 ;;
    --release) BUILD_DIR=build-bench; BUILD_TYPE=Release; shift ;;
    --duration|--clients|--sizes|--only|--repeats) APP_ARGS+=("$1" "$2"); shift 2 ;;
    --keep-data) APP_ARGS+=("$1"); shift ;;
    --posting-sizes) POSTING_SIZES=$2; shift 2 ;;
    --report-sizes) REPORT_SIZES=$2; shift 2 ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    *) echo "bench.sh: opção desconhecida: $1" >&2; exit 2 ;;
  esac
done

if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE"
fi
ninja -C "$BUILD_DIR" -j2 app_bench posting_bench failover_bench report_bench

PG_ARGS=()
[ -n "$PG" ] && PG_ARGS=(--pg "$PG")
echo "== $(date -Is)  uptime: $(uptime)"
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/bin/app_bench" "${PG_ARGS[@]}" "${APP_ARGS[@]}"
echo "== $(date -Is)  uptime: $(uptime)"
"$BUILD_DIR/bin/posting_bench" "${PG_ARGS[@]}" --sizes "$POSTING_SIZES"
echo "== $(date -Is)  uptime: $(uptime)"
"$BUILD_DIR/bin/failover_bench" "${PG_ARGS[@]}"
echo "== $(date -Is)  uptime: $(uptime)"
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/bin/report_bench" --sizes "$REPORT_SIZES"
echo "== $(date -Is)  uptime: $(uptime)"
