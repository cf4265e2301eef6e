#!/usr/bin/env bash
# Installs what is needed, builds, creates the demo database, starts the
# application server on loopback and opens the host application logged in as
# the demo operator. The server stops when the host exits.
#
# Without a display (or with --headless) the host runs under Xvfb, tours the
# screens on the demo data, saves screenshots under the build folder and exits.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
BIN="$(pwd)/$BUILD_DIR/bin"
DEMO_DB="$BIN/demo.db"
DEMO_OPERATOR=demo
DEMO_PASSWORD=demo
HEADLESS=0
[ "${1:-}" = "--headless" ] && HEADLESS=1
[ -z "${DISPLAY:-}" ] && HEADLESS=1

bash scripts/install-deps.sh
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$BUILD_DIR" -j2 qfxhost qfxserver qfxdemo qfx31700

TOUR="$DEMO_DB.roteiro"
if [ ! -f "$DEMO_DB" ]; then
  echo "Criando o banco de demonstração em $DEMO_DB ..."
  "$BIN/qfxdemo" --db "sqlite:$DEMO_DB" --scale 600 --seed 42 | tee "$TOUR.tmp"
  # the tour with the dates of this demo, shown again at every start
  sed -n '/^roteiro/,$p' "$TOUR.tmp" > "$TOUR" && rm -f "$TOUR.tmp"
elif [ -f "$TOUR" ]; then
  cat "$TOUR"
fi

PORT_FILE=$(mktemp)
"$BIN/qfxserver" --listen 127.0.0.1:0 --port-file "$PORT_FILE" --db "sqlite:$DEMO_DB" --log-level warn &
SERVER_PID=$!
trap 'kill "$SERVER_PID" 2>/dev/null || true; wait "$SERVER_PID" 2>/dev/null || true; rm -f "$PORT_FILE"' EXIT
for _ in $(seq 1 100); do
  [ -s "$PORT_FILE" ] && break
  kill -0 "$SERVER_PID" 2>/dev/null || { echo "O servidor de aplicação não iniciou." >&2; exit 1; }
  sleep 0.1
done
PORT=$(cat "$PORT_FILE")

echo "Servidor de aplicação em 127.0.0.1:$PORT (banco $DEMO_DB)"
echo "Operador de demonstração: $DEMO_OPERATOR  senha: $DEMO_PASSWORD  (filial livre)"
echo "Operador preso à filial 0001: loja01  senha: loja01"

HOST_ARGS=(--server "127.0.0.1:$PORT" --db "sqlite:$DEMO_DB" --reports "$BIN/reports"
           --operator "$DEMO_OPERATOR" --branch 0001)
# the password through the environment, never on the command line (ps shows it)
export QFX_PASSWORD="$DEMO_PASSWORD"
if [ "$HEADLESS" = 1 ]; then
  SHOTS="$BUILD_DIR/screenshots"
  echo "Sem tela: executando sob Xvfb e salvando capturas em $SHOTS"
  xvfb-run -a -s "-screen 0 1280x800x24" "$BIN/qfxhost" "${HOST_ARGS[@]}" --screenshots "$SHOTS"
else
  "$BIN/qfxhost" "${HOST_ARGS[@]}"
fi
