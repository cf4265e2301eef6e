#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs them.
#
#   scripts/fuzz.sh [seconds-per-fuzzer] [fuzzer...]   fuzz (default 600 s each, all fuzzers)
#   scripts/fuzz.sh --replay [fuzzer...]               each fuzzer once over its committed corpus
#
# Fuzzing runs two fuzzers at a time over build-fuzz/corpus/<fuzzer> (new
# inputs land there) and the committed fuzz/corpus/<fuzzer> (only read);
# anything found is saved under build-fuzz/findings/<fuzzer>/ and the script
# exits non-zero. A finding is replayed with: build-fuzz/bin/<fuzzer> <file>
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$ROOT/build-fuzz
ALL=(packet_fuzzer invoke_fuzzer list_text_fuzzer csv_reader_fuzzer nfce_reader_fuzzer)

mode=fuzz
seconds=600
if [ "${1:-}" = "--replay" ]; then
  mode=replay
  shift
elif [[ "${1:-}" =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
fuzzers=("$@")
[ ${#fuzzers[@]} -eq 0 ] && fuzzers=("${ALL[@]}")
for f in "${fuzzers[@]}"; do
  [[ " ${ALL[*]} " == *" $f "* ]] || { echo "fuzz.sh: fuzzer desconhecido '$f' (conhecidos: ${ALL[*]})" >&2; exit 2; }
done

bash scripts/install-deps.sh
cmake -S . -B "$BUILD" -G Ninja -DQFX_FUZZERS=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$BUILD" -j2 "${fuzzers[@]}"

# the last status line libFuzzer printed: runs, cov:, ft:, corp:
status_of() { grep -E '^#[0-9]+' "$1" | tail -n 1 || true; }

if [ "$mode" = replay ]; then
  failed=0
  for f in "${fuzzers[@]}"; do
    mkdir -p "$BUILD/findings/$f" "$BUILD/logs"
    log=$BUILD/logs/$f.replay.log
    if "$BUILD/bin/$f" -runs=0 -artifact_prefix="$BUILD/findings/$f/" "$ROOT/fuzz/corpus/$f" >"$log" 2>&1; then
      echo "$f: corpus ok — $(status_of "$log")"
    else
      echo "$f: FALHOU na releitura do corpus (log: $log)"
      tail -n 30 "$log"
      failed=1
    fi
  done
  exit $failed
fi

run_one() {
  local f=$1
  mkdir -p "$BUILD/corpus/$f" "$BUILD/findings/$f" "$BUILD/logs"
  "$BUILD/bin/$f" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$BUILD/findings/$f/" "$BUILD/corpus/$f" "$ROOT/fuzz/corpus/$f" >"$BUILD/logs/$f.log" 2>&1
}

echo "fuzz.sh: ${fuzzers[*]} por ${seconds}s cada, dois de cada vez; logs em $BUILD/logs/"
mkdir -p "$BUILD/logs"
started=$BUILD/logs/.started
touch "$started"
for f in "${fuzzers[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n || true; done
  run_one "$f" &
done
wait || true

found=0
for f in "${fuzzers[@]}"; do
  log=$BUILD/logs/$f.log
  runs=$(grep -oP 'stat::number_of_executed_units: \K[0-9]+' "$log" || echo "?")
  findings=$(find "$BUILD/findings/$f" -type f -newer "$started" | wc -l)
  echo "$f: $runs execuções — $(status_of "$log") — achados: $findings"
  if [ "$findings" -gt 0 ]; then
    found=1
    find "$BUILD/findings/$f" -type f -newer "$started" | sed 's/^/  /'
  fi
done
exit $found
