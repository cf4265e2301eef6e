#!/usr/bin/env bash
# Runs a command under a real X server with a window manager: Xvfb on a free
# display, openbox managing it, DISPLAY set and Qt on its xcb platform; both
# stopped when the command ends, whatever its outcome. Its exit status is the
# command's.
#
#   scripts/with-window-manager.sh build/bin/report_tests --gtest_filter='FocusUnderWindowManager.*'
#
# The focus-sensitive widget tests (ctest label window-manager) run through
# it: Qt's offscreen platform activates a window the moment it is asked to,
# while a window manager activates it on its own time after a dialog closes,
# and that is where a focus can land on the wrong field.
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "uso: $0 comando [argumentos...]" >&2
  exit 2
fi

for tool in Xvfb openbox xprop; do
  if ! command -v "$tool" > /dev/null; then
    echo "$0: '$tool' não está instalado (scripts/install-deps.sh instala)" >&2
    exit 2
  fi
done

work=$(mktemp -d)
xvfb_pid=""
wm_pid=""
cleanup() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2> /dev/null && wait "$wm_pid" 2> /dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null && wait "$xvfb_pid" 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display itself and writes its number to the pipe
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3> "$work/display" 2> "$work/xvfb.log" &
xvfb_pid=$!
if ! read -r -t 20 number < "$work/display"; then
  echo "$0: o Xvfb não iniciou:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$number"
# it names its display a moment before it takes connections (and -noreset:
# no server reset while the last client goes, as this probe does)
answers() { xprop -root > /dev/null 2>&1; }
for _ in $(seq 1 200); do
  answers && break
  sleep 0.05
done
if ! answers; then
  echo "$0: o Xvfb em $DISPLAY não responde:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi

# the window manager is up once it has announced itself on the root window
HOME="$work" openbox --sm-disable > "$work/openbox.log" 2>&1 &
wm_pid=$!
for _ in $(seq 1 200); do
  if xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q 'window id'; then break; fi
  if ! kill -0 "$wm_pid" 2> /dev/null; then
    echo "$0: o openbox terminou ao iniciar:" >&2
    cat "$work/openbox.log" >&2
    exit 1
  fi
  sleep 0.05
done

export QT_QPA_PLATFORM=xcb
status=0
"$@" || status=$?
exit "$status"
