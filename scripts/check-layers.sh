#!/usr/bin/env bash
# The module is one library, so the build cannot refuse an include that goes
# against its folders' direction; this does. Each rule: a folder, and the
# folders of the module it must not include.
#   module/ -> consolidation/ filter/ report/ -> navigation/ -> remote/ host/
set -euo pipefail
cd "$(dirname "$0")/../qfx31700"

declare -A forbidden=(
  [consolidation]="module filter report reversal"
  [filter]="module consolidation report reversal"
  [report]="module consolidation filter reversal"
  [reversal]="module consolidation filter report"
  [navigation]="module consolidation filter report reversal"
  [remote]="module consolidation filter report reversal navigation"
  [host]="module consolidation filter report reversal navigation"
)

status=0
for folder in "${!forbidden[@]}"; do
  for target in ${forbidden[$folder]}; do
    # "target/x.h" inside the module, <qfx31700/target/x.h> in its headers
    if hits=$(grep -rnE "#include [\"<](qfx31700/)?$target/" "$folder" 2>/dev/null); then
      echo "$folder/ must not include $target/:"
      echo "$hits"
      status=1
    fi
  done
done
[ $status = 0 ] && echo "module folders: every include goes one way"

# the importer's state is its parts' own, not the domain's interface
cd ..
if hits=$(grep -rn --include='*.cpp' --include='*.h' 'importer_state\.h' appserver bench tests fuzz qfximport |
  grep -v '^appserver/domain/importer[a-z_]*\.\(cpp\|h\):'); then
  echo "only the importer's own files may include importer_state.h:"
  echo "$hits"
  status=1
fi
exit $status
