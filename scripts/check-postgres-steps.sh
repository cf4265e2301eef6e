#!/usr/bin/env bash
# Runs the PostgreSQL steps of docs/operations.md (the block between the
# "passos-postgresql" marks) exactly as written on a throwaway cluster of the
# machine's PostgreSQL 15, made with Debian's pg_createcluster (its default
# authentication: peer on the socket, passwords over TCP), and checks that
# they give a working deployment. Only the cluster's port replaces 5432, and
# the programs are those of the build. Needs root (the steps use sudo -u
# postgres). The cluster is dropped at the end.
#
#   scripts/check-postgres-steps.sh [BIN_DIR]     # default: build/bin
#
# CTest runs it as postgres_steps; without root or pg_createcluster it skips
# (exit code 77).
set -euo pipefail

if [ "$(id -u)" -ne 0 ] || ! command -v pg_createcluster > /dev/null || [ ! -x /usr/lib/postgresql/15/bin/initdb ]; then
  echo "check-postgres-steps: pulado (precisa de root, pg_createcluster e PostgreSQL 15)"
  exit 77
fi

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN=$(cd "${1:-${QFX_BIN_DIR:-$ROOT/build/bin}}" && pwd)
DOC=$ROOT/docs/operations.md
VERSION=15
CLUSTER=qfxpassos$$
WORK=$(mktemp -d)
SERVER_PID=

# below the kernel's ephemeral range (32768 on): a port there can be taken
# between the probe and the cluster's start by any test's outgoing connection
free_port() {
  local port
  for port in $(seq 25600 25700); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  echo "nenhuma porta livre entre 25600 e 25700" >&2
  return 1
}

cleanup() {
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null && wait "$SERVER_PID" 2>/dev/null || true
  pg_dropcluster --stop "$VERSION" "$CLUSTER" 2>/dev/null || true
  rm -rf "$WORK"
}

fail() {
  echo "check-postgres-steps: $*" >&2
  exit 1
}

PORT=$(free_port)
trap cleanup EXIT
pg_createcluster "$VERSION" "$CLUSTER" --port "$PORT" >/dev/null
pg_ctlcluster "$VERSION" "$CLUSTER" start

# the block as the document has it, with the cluster's port
awk '/<!-- passos-postgresql/ {inside = 1; next} /<!-- fim dos passos-postgresql/ {inside = 0} inside' "$DOC" |
  sed -e '/^```/d' -e "s/localhost:5432/localhost:$PORT/g" > "$WORK/steps.sh"
[ -s "$WORK/steps.sh" ] || fail "os passos não foram encontrados em $DOC"

mkdir "$WORK/bin"
ln -s "$BIN/qfxserver" "$BIN/qfxdemo" "$WORK/bin/"
# sudo -u USER as the document writes it, pointed at this cluster
cat > "$WORK/bin/sudo" <<SUDO
#!/usr/bin/env bash
[ "\$1" = -u ] || { echo "sudo: só -u USUÁRIO" >&2; exit 1; }
user=\$2; shift 2
exec runuser -u "\$user" -- env PGPORT=$PORT "\$@"
SUDO
chmod +x "$WORK/bin/sudo"
chmod 755 "$WORK"

echo "== os passos, como estão em docs/operations.md (porta $PORT)"
cat "$WORK/steps.sh"
# without a terminal createuser -P reads the password twice from the input
(cd "$WORK" && printf 'SENHA\nSENHA\n' | PATH="$WORK/bin:$PATH" setsid --wait bash -euo pipefail steps.sh) ||
  fail "um dos passos falhou"

echo "== a implantação"
export PGPASSWORD=SENHA
URL="postgresql://qfx@localhost:$PORT/qfx"
"$BIN/qfxserver" --db "$URL" --list-operators | grep -q '^maria ' || fail "o operador maria não foi criado"
"$BIN/qfxserver" --db "$URL" --listen 127.0.0.1:0 --port-file "$WORK/porta" 2> "$WORK/servidor.log" &
SERVER_PID=$!
for _ in $(seq 1 100); do
  [ -s "$WORK/porta" ] && break
  kill -0 "$SERVER_PID" 2>/dev/null || break
  sleep 0.1
done
[ -s "$WORK/porta" ] || fail "o servidor não abriu a porta: $(cat "$WORK/servidor.log")"
echo "servidor atendendo em 127.0.0.1:$(cat "$WORK/porta")"

export PGPASSWORD=SENHA_HOST
host_sql() { psql -X -h localhost -p "$PORT" -U qfx_host -d qfx -tAc "$1" 2>&1; }
branches=$(host_sql "SELECT COUNT(*) FROM FILIAL") || fail "o login dos hosts não lê FILIAL: $branches"
[ "$branches" -gt 0 ] || fail "o login dos hosts não vê as filiais"
if host_sql "SELECT COUNT(*) FROM OPERADOR" > /dev/null; then fail "o login dos hosts lê OPERADOR"; fi
echo "login dos hosts: $branches filiais lidas, OPERADOR recusado"
echo "passos do PostgreSQL: ok"
