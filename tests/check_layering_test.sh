#!/usr/bin/env bash
# The layering check (scripts/check_layering.sh) on a small tree of its
# own: it passes the tree as built, and fails, naming the file, for each
# include or link planted against the floors; includes it must let pass
# (tests and fuzz entries reaching the simulated server, a commented-out
# include) do not fail it.
#
# usage: check_layering_test.sh <path of check_layering.sh>
set -uo pipefail
check=$(realpath "$1")
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
failures=0

put() {  # put <file> <line>...: writes the file with the given lines
  mkdir -p "$(dirname "$tree/$1")"
  local f="$tree/$1"
  shift
  printf '%s\n' "$@" >"$f"
}

# A tree with a few floors, every arrow allowed.
build_tree() {
  rm -rf "${tree:?}"/*
  put framework/trace.h '#pragma once'
  put sim/vaxel_sim.h '#pragma once'
  put state/globals.h '#pragma once' '#include "framework/trace.h"'
  put state/CMakeLists.txt 'qvd_module(qvd_state DEPS qvd_framework)'
  put stats/rows.h '#pragma once' '#include <vector>' '#include "state/globals.h"'
  put stats/rows.cc '#include "stats/rows.h"' '#include "gtest/gtest.h"'
  put stats/rows_test.cc '#include "stats/rows.h"' '#include "sim/vaxel_sim.h"'
  put stats/CMakeLists.txt '# links qvd_core? never' 'qvd_module(qvd_stats DEPS qvd_state)'
  put core/main.cc '#include "stats/rows.h"' '#include "state/globals.h"'
  put core/CMakeLists.txt 'qvd_module(qvd_core DEPS qvd_stats qvd_state)'
  put tools/probe.cc '#include "core/main.h"'
  put qvdexporter/main.cc '#include "state/version.h"'
  put build-x/stray.cc '#include "core/main.h"'
}

# expect <pass|fail> <description> [text the output must hold]
expect() {
  local want=$1 what=$2 needle=${3:-} out rc
  out=$(bash "$check" "$tree" 2>&1)
  rc=$?
  if [ "$want" = pass ] && [ "$rc" != 0 ]; then
    echo "FAIL: $what: the check failed (status $rc):"
    echo "$out"
    failures=$((failures + 1))
  elif [ "$want" = fail ] && [ "$rc" != 1 ]; then
    echo "FAIL: $what: the check did not fail (status $rc):"
    echo "$out"
    failures=$((failures + 1))
  elif [ -n "$needle" ] && [[ "$out" != *"$needle"* ]]; then
    echo "FAIL: $what: the output does not say \"$needle\":"
    echo "$out"
    failures=$((failures + 1))
  else
    echo "ok: $what"
  fi
}

build_tree
expect pass "the tree as built"

build_tree
put stats/rows.cc '#include "stats/rows.h"' '#include "core/dispatch.h"'
expect fail "a subsystem includes core/" 'stats/rows.cc:2: stats/ includes core/'

build_tree
put stats/rows.h '#pragma once' '  #  include <core/dispatch.h>'
expect fail "an indented include in angle brackets" 'stats/rows.h:2: stats/ includes core/'

build_tree
put qvdexporter/main.cc '#include "core/version.h"'
expect fail "the exporter includes core/" 'qvdexporter/main.cc:1: qvdexporter/ includes core/'

build_tree
put state/globals.h '#pragma once' '#include "stats/rows.h"'
expect fail "the state floor includes a subsystem above it" 'state/globals.h:2: state/ includes stats/'

build_tree
put stats/rows.cc '#include "sim/vaxel_sim.h"'
expect fail "the collector's code includes the simulated server" 'stats/rows.cc:1: stats/ includes sim/'

build_tree
put stats/fuzz/rows_fuzz.cc '#include "sim/vaxel_sim.h"'
put stats/fake_testutil.h '#include "sim/vaxel_sim.h"'
expect pass "tests and fuzz entries include the simulated server"

build_tree
put stats/rows.cc '// #include "core/dispatch.h" was here once'
expect pass "a commented-out include"

build_tree
put stats/CMakeLists.txt 'qvd_module(qvd_stats DEPS qvd_state' '           qvd_core)'
expect fail "a subsystem links the core library" 'stats/CMakeLists.txt:2: stats/ links qvd_core of core/'

build_tree
put extra/thing.cc '#include "state/globals.h"'
expect fail "a folder the table does not list" 'extra/: a folder with sources'

if [ "$failures" != 0 ]; then
  echo "$failures case(s) failed"
  exit 1
fi
echo "all cases passed"
