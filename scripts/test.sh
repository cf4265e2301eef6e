#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test, on SQLite
# and on a throwaway PostgreSQL server of its own (loopback, stopped at exit);
# then builds the same suite with AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer and runs it again. Every build's run also
# replays the fuzzers' committed corpora.
#
#   QFX_SKIP_SANITIZERS=1 scripts/test.sh   only the ordinary build (quicker, for local work)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-test}  # not build/: its unity settings would stay there
SANITIZER_BUILD_DIR=${SANITIZER_BUILD_DIR:-build-asan}

bash scripts/install-deps.sh

# Every source as clang-format and .clang-format write it; nothing is changed.
bash scripts/format.sh --check

if [ -f scripts/pg-test-server.sh ]; then
  PG_ENV=$(mktemp)
  trap 'bash scripts/pg-test-server.sh stop; rm -f "$PG_ENV"' EXIT
  bash scripts/pg-test-server.sh start > "$PG_ENV"
  # shellcheck disable=SC1090
  source "$PG_ENV"
fi

# Unity builds (a few sources compiled as one) and line tables only: the
# machine has two cores, and most of a clean build is the same Qt, gRPC and
# gtest headers parsed again for every source. Developers' builds stay one
# source at a time; a name clash between sources shows here first.
UNITY="-DCMAKE_UNITY_BUILD=ON"
# CI's builds stay warning-free: a warning fails the build.
WERROR="-DCMAKE_COMPILE_WARNING_AS_ERROR=ON"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $UNITY $WERROR \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
ninja -C "$BUILD_DIR" -j2
# the focus-sensitive widget tests under Xvfb with a window manager
# (scripts/with-window-manager.sh) one at a time: a loaded machine must not
# decide where the focus lands
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 -LE window-manager
ctest --test-dir "$BUILD_DIR" --output-on-failure -L window-manager

if [ "${QFX_SKIP_SANITIZERS:-0}" != 1 ]; then
  # -O1 and line tables only: the sanitizers' reports keep file and line,
  # the build takes less time than a full debug build.
  cmake -S . -B "$SANITIZER_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQFX_SANITIZE=ON $UNITY $WERROR \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DQFX_BENCHMARKS=OFF
  ninja -C "$SANITIZER_BUILD_DIR" -j2
  ctest --test-dir "$SANITIZER_BUILD_DIR" --output-on-failure -j2 -LE window-manager
  ctest --test-dir "$SANITIZER_BUILD_DIR" --output-on-failure -L window-manager
fi
