#!/usr/bin/env bash
# Builds the project (installing what the build needs) and runs the whole
# test suite.  Usage: scripts/test.sh [default|asan|tsan]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/setup.sh "$preset"
ctest --preset "$preset" -j "$(nproc)" --timeout 600
