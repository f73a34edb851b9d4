#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing, and
# configures and builds the project in ./build (or the preset given as $1;
# with "--configure-only" as $2 it stops after configuring).
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev nlohmann-json3-dev libpugixml-dev; do
  have "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "== installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi

preset="${1:-default}"
cmake --preset "$preset" >/dev/null
[ "${2:-}" = "--configure-only" ] && exit 0
cmake --build --preset "$preset" -j "$(nproc)"
