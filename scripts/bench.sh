#!/usr/bin/env bash
# Builds the benchmark programs and prints every figure, each against the bare
# database doing the same work in the same run: list load, Z check, host
# memory and concurrent load, on one server and over two with one killed
# (app_bench), then posting (posting_bench), then the host moving to a second
# server when the first is killed (failover_bench), then report 01 to its
# first page, PDF and spreadsheets (report_bench), then 1 000 000 sale
# items imported from CSV against the same rows loaded bare, and 100 000
# NFC-e (500 000 items) against the CSV import of the same items (import_bench).
#
#   scripts/bench.sh [--pg URL] [--release] [--duration S] [--clients N]
#                    [--sizes 100000,1000000] [--posting-sizes 100000]
#                    [--only list,calls,z,memory,load,failover-load,scale,posting,failover,report,import,nfce]
#                    [--scale-sizes 100000,10000000]
#                    [--import-sizes 1000000] [--nfce-documents 100000]
#                    [--keep-data] [--report-sizes 100000,1000000]
#   scripts/bench.sh --check [--pg URL] [--release]
#
#   --pg URL     PostgreSQL too (default: $QFX_TEST_PG_URL); the user must be
#                allowed to create databases. scripts/pg-test-server.sh start gives one.
#   --release    build in build-bench with CMAKE_BUILD_TYPE=Release (default:
#                the RelWithDebInfo tree in $BUILD_DIR, or build)
#   --duration   seconds of the load figures (default 60); --clients their clients (50)
#   --only       the figures to run (default: all); failover-load is the load
#                over two servers with the one in use killed halfway; scale
#                is one store's day on 10 000 000 items against 100 000
#                (--scale-sizes; fill them once and keep them: --keep-data)
#   --keep-data  the generated databases stay and a later run of the same day
#                reuses them (PostgreSQL takes a while to fill)
#   --report-sizes  sale items qfxdemo generates for report_bench (SQLite; the
#                databases stay in $BUILD_DIR/bench-data for later runs)
#   --nfce-documents  NFC-e (five items each) of the nfce figure, timed against
#                the CSV import of the same items (default 100 000)
#   --check      only the figures that have a target (100 000 items, both
#                databases, the list of 1 000 000 and the store's day on
#                10 000 000 too, data kept between runs), one line each: the
#                figure, its bare baseline, the ratio or difference, the
#                target and ok or MISS; exits 1 when a target is missed or a
#                figure could not be measured
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build}
BUILD_TYPE=RelWithDebInfo
PG=${QFX_TEST_PG_URL:-}
APP_ARGS=()
POSTING_ARGS=()
ONLY=""
CHECK=0
POSTING_SIZES=100000
REPORT_SIZES=100000,1000000
IMPORT_SIZES=1000000
NFCE_DOCUMENTS=100000
while [ $# -gt 0 ]; do
  case "$1" in
    --pg) PG=$2; shift 2 ;;
    --release) BUILD_DIR=build-bench; BUILD_TYPE=Release; shift ;;
    --duration|--clients|--sizes|--repeats|--scale-sizes) APP_ARGS+=("$1" "$2"); shift 2 ;;
    --only) ONLY=$2; shift 2 ;;
    --keep-data) APP_ARGS+=("$1"); POSTING_ARGS+=("$1"); shift ;;
    --posting-sizes) POSTING_SIZES=$2; shift 2 ;;
    --report-sizes) REPORT_SIZES=$2; shift 2 ;;
    --import-sizes) IMPORT_SIZES=$2; shift 2 ;;
    --nfce-documents) NFCE_DOCUMENTS=$2; shift 2 ;;
    --check) CHECK=1; shift ;;
    -h|--help) sed -n '2,39p' "$0"; exit 0 ;;
    *) echo "bench.sh: opção desconhecida: $1" >&2; exit 2 ;;
  esac
done

if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE"
fi
BIN=$BUILD_DIR/bin
stamp() { echo "== $(date -Is)  uptime: $(uptime)"; }

# ---------------------------------------------------------------- --check
#
# The targets: each figure against the bare database of the same run.
# The posting's "bare" is the same reads and writes done bare with the C
# library; the bare UPDATE of the same rows is printed for reference. The
# reversal's "bare" is the posting it undoes, measured in the same run. The
# scale rows set one store's day on a database of 10 000 000 items against
# the same day on one of 100 000. kind "abs": the figure itself at most the
# target; "ratio": figure/bare at most the target; "over": figure-bare at
# most the target; "ref": printed, no target.
TARGETS='
SQLite     z1000        abs   0.35 Z check, 1 000 register-days (2 001 calls)
PostgreSQL z1000        abs   0.60 Z check, 1 000 register-days (2 001 calls)
PostgreSQL list100000   ratio 1.25 list 100 000 items
PostgreSQL list1000000  ratio 1.25 list 1 000 000 items
SQLite     posting100000 ratio 1.15 posting 100 000 items, x the same writes bare
PostgreSQL posting100000 ratio 1.15 posting 100 000 items, x the same writes bare
SQLite     postingupdate100000 ref 0 posting 100 000 items, x a bare UPDATE
PostgreSQL postingupdate100000 ref 0 posting 100 000 items, x a bare UPDATE
SQLite     reversal100000 ratio 1.50 reversal of 100 000 items, x their posting
PostgreSQL reversal100000 ratio 1.50 reversal of 100 000 items, x their posting
SQLite     call         over  0.15 one small call (GetReducaoZ)
PostgreSQL call         over  0.15 one small call (GetReducaoZ)
SQLite     scalelist    ratio 1.20 store day list, 10M items x 100 000
PostgreSQL scalelist    ratio 1.20 store day list, 10M items x 100 000
SQLite     scalez       ratio 1.20 store day Z check, 10M items x 100 000
PostgreSQL scalez       ratio 1.20 store day Z check, 10M items x 100 000
SQLite     scaleposting ratio 1.20 store day posting, 10M items x 100 000
PostgreSQL scaleposting ratio 1.20 store day posting, 10M items x 100 000
SQLite     import1000000 ratio 1.50 import 1 000 000 sale items from CSV
PostgreSQL import1000000 ratio 1.50 import 1 000 000 sale items from CSV
SQLite     nfce100000   ratio 2.00 NFC-e 100 000 documents, x CSV of the same items
PostgreSQL nfce100000   ratio 2.00 NFC-e 100 000 documents, x CSV of the same items
'

check_table() {
  local figures=$1
  awk -v targets="$TARGETS" '
    BEGIN { missed = 0 }
    { ours[$1 " " $2] = $3; bare[$1 " " $2] = $4 }
    END {
      n = split(targets, lines, "\n")
      printf "%-58s %11s %11s %12s %16s  %s\n", "figure", "ours", "bare", "ratio/diff", "target", "met"
      for (i = 1; i <= n; i++) {
        if (lines[i] == "") continue
        split(lines[i], f, " ")
        db = f[1]; key = f[2]; kind = f[3]; target = f[4] + 0
        title = lines[i]; sub(/^[^ ]+ +[^ ]+ +[^ ]+ +[^ ]+ +/, "", title)
        name = title ", " db
        unit = (kind == "over") ? "ms" : "s"
        if (!((db " " key) in ours) && kind == "ref") continue
        if (!((db " " key) in ours)) {
          printf "%-58s %11s %11s %12s %16s  %s\n", name, "-", "-", "-", "", "MISS (not measured)"
          missed = 1; continue
        }
        o = ours[db " " key]; b = bare[db " " key]
        if (kind == "ref") {
          printf "%-58s %8.3f %s %8.3f %s %12.2f %16s  %s\n", name, o, unit, b, unit, o / b, "(reference)", "-"
          continue
        }
        if (kind == "abs") { value = o; shown = sprintf("%.2f", o / b); want = sprintf("<= %.2f s", target) }
        else if (kind == "ratio") { value = o / b; shown = sprintf("%.2f", value); want = sprintf("<= %.2fx bare", target) }
        else { value = o - b; shown = sprintf("+%.3f ms", value); want = sprintf("<= +%.2f ms", target) }
        met = (value <= target) ? "ok" : "MISS"
        if (met != "ok") missed = 1
        printf "%-58s %8.3f %s %8.3f %s %12s %16s  %s\n", name, o, unit, b, unit, shown, want, met
      }
      exit missed
    }' "$figures"
}

if [ "$CHECK" = 1 ]; then
  ninja -C "$BUILD_DIR" -j2 app_bench posting_bench import_bench
  FIGURES=$(mktemp /tmp/qfx-bench-check.XXXXXX)
  trap 'rm -f "$FIGURES"' EXIT
  stamp
  # SQLite: the list has no target there; PostgreSQL: all three
  # the scale rows: one store's day on 10 000 000 items against 100 000 (kept:
  # the first run of a day fills both sizes, COPY on PostgreSQL)
  QT_QPA_PLATFORM=offscreen "$BIN/app_bench" --pg "" --sizes 100000 --only calls,z,scale --keep-data \
    --figures "$FIGURES"
  if [ -n "$PG" ]; then
    QT_QPA_PLATFORM=offscreen "$BIN/app_bench" --no-sqlite --pg "$PG" --sizes 100000,1000000 \
      --only list,calls,z,scale --keep-data --figures "$FIGURES"
  fi
  PG_ARGS=()
  [ -n "$PG" ] && PG_ARGS=(--pg "$PG")
  "$BIN/posting_bench" "${PG_ARGS[@]}" --sizes 100000 --keep-data --figures "$FIGURES"
  "$BIN/import_bench" --pg "$PG" --sizes 1000000 --figures "$FIGURES"
  "$BIN/import_bench" --pg "$PG" --only-nfce --nfce 100000 --figures "$FIGURES"
  stamp
  [ -n "$PG" ] || echo "(PostgreSQL not measured: give --pg URL or set QFX_TEST_PG_URL)"
  echo
  check_table "$FIGURES"
  exit $?
fi

# ---------------------------------------------------------------- the figures

wants() { [ -z "$ONLY" ] || [[ ",$ONLY," == *",$1,"* ]]; }
APP_PARTS=""
for part in list calls z memory load failover-load scale; do
  wants "$part" && APP_PARTS+="${APP_PARTS:+,}$part"
done

TARGETS_TO_BUILD=()
[ -n "$APP_PARTS" ] && TARGETS_TO_BUILD+=(app_bench)
wants posting && TARGETS_TO_BUILD+=(posting_bench)
wants failover && TARGETS_TO_BUILD+=(failover_bench)
wants report && TARGETS_TO_BUILD+=(report_bench)
{ wants import || wants nfce; } && TARGETS_TO_BUILD+=(import_bench)
[ ${#TARGETS_TO_BUILD[@]} -gt 0 ] || { echo "bench.sh: --only não escolheu nada: $ONLY" >&2; exit 2; }
ninja -C "$BUILD_DIR" -j2 "${TARGETS_TO_BUILD[@]}"

PG_ARGS=()
[ -n "$PG" ] && PG_ARGS=(--pg "$PG")
stamp
if [ -n "$APP_PARTS" ]; then
  QT_QPA_PLATFORM=offscreen "$BIN/app_bench" "${PG_ARGS[@]}" "${APP_ARGS[@]}" --only "$APP_PARTS"
  stamp
fi
if wants posting; then
  "$BIN/posting_bench" "${PG_ARGS[@]}" "${POSTING_ARGS[@]}" --sizes "$POSTING_SIZES"
  stamp
fi
if wants failover; then
  "$BIN/failover_bench" "${PG_ARGS[@]}"
  stamp
fi
if wants report; then
  QT_QPA_PLATFORM=offscreen "$BIN/report_bench" --sizes "$REPORT_SIZES"
  stamp
fi
if wants import; then
  "$BIN/import_bench" --pg "$PG" --sizes "$IMPORT_SIZES"
  stamp
fi
if wants nfce; then
  "$BIN/import_bench" --pg "$PG" --only-nfce --nfce "$NFCE_DOCUMENTS"
  stamp
fi
