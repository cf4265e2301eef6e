#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Idempotent: packages already present are left alone.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n
  qt6-tools-dev qt6-tools-dev-tools qt6-documentation-tools libqt6help6  # manual: Qt Help, qhelpgenerator
  libqt6sql6-sqlite libqt6sql6-psql libsqlite3-dev sqlite3
  libgrpc++-dev protobuf-compiler-grpc libprotobuf-dev protobuf-compiler
  libsodium-dev libpq-dev libmicrohttpd-dev
  libxlsxwriter-dev  # the reports' XLSX export
  libcsv-dev  # the import files (streaming CSV reader)
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth
  openbox x11-utils xdotool  # scripts/with-window-manager.sh: the focus tests under a window manager; xprop
  postgresql
  poppler-utils openssl
  unzip  # the report tests read the XLSX exports
  clang libclang-rt-14-dev  # scripts/fuzz.sh: libFuzzer and the sanitizers' runtimes
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
