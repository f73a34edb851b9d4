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
  took=""
  for p in default asan tsan; do
    # Timings go before the next suite, so that a test runner's summary
    # stays the last thing printed.
    echo "== $p build and test suite${took}"
    start=$SECONDS
    if ! scripts/test.sh "$p"; then failed+=("$p"); fi
    took=" (the $p build and suite took $((SECONDS - start)) s)"
  done
  if [ ${#failed[@]} -gt 0 ]; then
    echo "== failed: ${failed[*]}"
    exit 1
  fi
  exit 0
fi
scripts/setup.sh "$preset"
ctest --preset "$preset" -j "$(nproc)" --timeout 600
