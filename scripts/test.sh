#!/usr/bin/env bash
# Builds the project (installing what the build needs) and runs the whole
# test suite.  Usage: scripts/test.sh [default|asan|tsan|all]
# "all" runs the suite in the default build, under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer, one after the other,
# and fails when any of them fails.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
if [ "$preset" = "all" ]; then
  failed=()
  for p in default asan tsan; do
    start=$SECONDS
    echo "== $p build and test suite"
    if ! scripts/test.sh "$p"; then failed+=("$p"); fi
    echo "== $p: $((SECONDS - start)) s"
  done
  if [ ${#failed[@]} -gt 0 ]; then
    echo "== failed: ${failed[*]}"
    exit 1
  fi
  exit 0
fi
scripts/setup.sh "$preset"
ctest --preset "$preset" -j "$(nproc)" --timeout 600
