#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing, and
# configures and builds the project in ./build (or the preset given as $1;
# with "--configure-only" as $2 it stops after configuring).
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
# prometheus-cpp-dev builds qvdexporter; prometheus (promtool and the server)
# is what its end-to-end tests run.
for pkg in cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev nlohmann-json3-dev libpugixml-dev \
           prometheus-cpp-dev prometheus; do
  have "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "== installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  # Packages that come with a service (prometheus) must not start it: the
  # tests start their own server on a port of their own.  Without a policy
  # of the machine's, one that refuses every start is in place meanwhile.
  policy=/usr/sbin/policy-rc.d
  own_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod 755 "$policy"
    own_policy=1
  fi
  status=0
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null || status=$?
  [ "$own_policy" = 1 ] && $SUDO rm -f "$policy"
  [ "$status" = 0 ] || exit "$status"
fi

preset="${1:-default}"
cmake --preset "$preset" >/dev/null
[ "${2:-}" = "--configure-only" ] && exit 0
cmake --build --preset "$preset" -j "$(nproc)"
