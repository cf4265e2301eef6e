#!/usr/bin/env bash
# The module library exports the four entries the host binds by name and
# nothing else of ours: the rest of the module, and whatever it links
# statically, stays inside it (qfx31700/module/exports.map). Run by the tests
# as module_exports.
#
#   scripts/check-exports.sh build/bin/libqfx31700.so
set -euo pipefail
library=${1:?usage: check-exports.sh <libqfx31700.so>}
expected=$(printf '%s\n' Finalize GetPackageInfoTable IniProc Initialize)
exported=$(nm -D --defined-only "$library" | awk '{print $NF}' | sort)
if [ "$exported" != "$expected" ]; then
  echo "$library exports what it should not (<) or lacks an entry (>):"
  diff <(echo "$exported") <(echo "$expected") || true
  exit 1
fi
echo "$library exports its four entries alone"
