#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (preset "fuzz", build-fuzz/) and runs
# each for the given number of seconds, one after the other, starting from its
# seed corpus.  Prints per target the executions, the coverage reached and
# the findings (crash, leak, timeout or out-of-memory inputs, kept in
# build-fuzz/fuzz-findings/<target>/).  Inputs the fuzzer adds go to
# build-fuzz/fuzz-corpus/<target>/, never into the tree.
#   Usage: scripts/fuzz.sh [seconds] [target...]
# A target is named as built (agentlink_parser_fuzz) or by its short name
# (parser).  Default: 60 seconds, every target.  Exit status 1 when any
# target found something.  Runs under `nice` when FUZZ_NICE is set
# (FUZZ_NICE=19 scripts/fuzz.sh 600).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
[ $# -gt 0 ] && shift
# clang and its sanitizer and libFuzzer run-time libraries.
if ! command -v clang++ >/dev/null || ! dpkg-query -W -f='${Status}' libclang-rt-dev 2>/dev/null | grep -q "ok installed"; then
  echo "== installing clang"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang libclang-rt-dev >/dev/null
fi
scripts/setup.sh fuzz --configure-only

build=build-fuzz
list=()
while read -r exe corpus; do
  [ -n "$exe" ] || continue
  if [ $# -eq 0 ]; then
    list+=("$exe $corpus")
  else
    for want in "$@"; do
      case "$exe" in "$want"|*_"$want"_fuzz) list+=("$exe $corpus") ;; esac
    done
  fi
done < "$build/fuzz_targets.txt"
if [ ${#list[@]} -eq 0 ]; then
  echo "no fuzz target matches: $*" >&2
  exit 2
fi
targets=()
for entry in "${list[@]}"; do targets+=("${entry%% *}"); done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

nice_cmd=()
[ -n "${FUZZ_NICE:-}" ] && nice_cmd=(nice -n "$FUZZ_NICE")
summary=()
status=0
for entry in "${list[@]}"; do
  exe="${entry%% *}"
  seeds="${entry#* }"
  work="$build/fuzz-corpus/$exe"
  findings="$build/fuzz-findings/$exe"
  log="$build/fuzz-logs/$exe.log"
  mkdir -p "$work" "$findings" "$(dirname "$log")"
  echo "== $exe: ${seconds}s"
  set +e
  "${nice_cmd[@]}" "$build/bin/$exe" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
    -rss_limit_mb=2048 -max_len=16384 -artifact_prefix="$findings/" "$work" "$seeds" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(grep -ao 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -ao '[0-9]*$' | tail -1)
  last=$(grep -aE '^#[0-9]+' "$log" | tail -1)
  cov=$(grep -ao 'cov: [0-9]*' <<<"$last" | grep -ao '[0-9]*' || true)
  ft=$(grep -ao 'ft: [0-9]*' <<<"$last" | grep -ao '[0-9]*' || true)
  corp=$(grep -ao 'corp: [0-9]*/[0-9]*[a-zA-Z]*' <<<"$last" | cut -d' ' -f2 || true)
  found=$(find "$findings" -type f | wc -l)
  if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
    status=1
    grep -aE 'ERROR|SUMMARY|check failed' "$log" | head -5 || true
  fi
  summary+=("$(printf '%-34s %12s %8s %8s %10s %9s' "$exe" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$found")")
done
echo
printf '%-34s %12s %8s %8s %10s %9s\n' target executions coverage features corpus findings
for line in "${summary[@]}"; do echo "$line"; done
exit $status
