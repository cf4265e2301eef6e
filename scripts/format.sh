#!/usr/bin/env bash
# Formats every C++ source of the repository with clang-format and the
# repository's .clang-format.
#
#   scripts/format.sh           rewrite the files in place
#   scripts/format.sh --check   change nothing; list what is not formatted and
#                               fail (run by scripts/test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
mode=(-i)
if [ "${1:-}" = --check ]; then
  mode=(--dry-run --Werror)
fi
git ls-files -z '*.cpp' '*.h' '*.cc' '*.hpp' | xargs -0 -r -n 50 clang-format "${mode[@]}"
