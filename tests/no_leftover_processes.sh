#!/usr/bin/env bash
# The suite's last step (a CTest fixture cleanup, run after every other
# test): fails when a qvdclient, qvdmvevent or agentsim that this build's
# tests started is still running, and ends those processes.
#
# A process counts when its name is one of the three and it was started by
# this build's tests: its program lies in this build's folder, or its
# environment holds QVD_TEST_SUITE=<this build's folder> (set for every
# test by CTest; the end-to-end tests hand it on to the collector, the
# collector to its relay).  Processes of other builds and of other people
# are not looked at.
#
# usage: no_leftover_processes.sh <build folder> [seconds to wait]
set -uo pipefail
build=$(realpath "$1")
wait_for=${2:-10}
marker="QVD_TEST_SUITE=$build"

leftovers() {
  local dir pid name exe
  for dir in /proc/[0-9]*; do
    pid=${dir#/proc/}
    name=$(cat "$dir/comm" 2>/dev/null) || continue
    case "$name" in qvdclient | qvdmvevent | agentsim) ;; *) continue ;; esac
    exe=$(readlink "$dir/exe" 2>/dev/null) || exe=""
    exe=${exe% (deleted)}
    if [[ "$exe" == "$build"/* ]] ||
      { tr '\0' '\n' <"$dir/environ"; } 2>/dev/null | grep -qxF -- "$marker"; then
      echo "$pid"
    fi
  done
}

# A process of the last test may still be on its way out.
for ((i = 0; i < wait_for * 10; i++)); do
  left=$(leftovers)
  [ -z "$left" ] && break
  sleep 0.1
done
if [ -z "$left" ]; then
  echo "no qvdclient, qvdmvevent or agentsim of this build's tests is running"
  exit 0
fi
echo "processes the tests left behind (now ended):"
for pid in $left; do
  ppid=$(awk '/^PPid:/ {print $2}' "/proc/$pid/status" 2>/dev/null)
  cmd=$({ tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null)
  echo "  pid $pid (parent $ppid): $cmd"
  kill -KILL "$pid" 2>/dev/null
done
exit 1
