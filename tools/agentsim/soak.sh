#!/usr/bin/env bash
# Soaks the collector: qvdclient, started by agentsim, against a copy of a
# model of the simulated server, for a bounded time.  Every table is
# requested in rounds, events flow through the relay stand-in (killed now
# and then), the model's statistics and directory groups change, the
# database check runs, and the replication and group-update tables are
# registered.  agentsim prints the collector's resident memory, open
# descriptors, threads and the simulator handles it holds at the start and
# every interval.
#
# usage: tools/agentsim/soak.sh <bindir> <model dir> <seconds> [agentsim options...]
#   e.g. tools/agentsim/soak.sh build/bin examples/server 900
#        tools/agentsim/soak.sh build/bin examples/server 20 --soak-interval 5 --soak-relay-kill 14
# SOAK_WORK=<dir> keeps the installation, traces and logs in <dir>.
set -euo pipefail
if [ $# -lt 3 ]; then
  echo "usage: $0 <bindir> <model dir> <seconds> [agentsim options...]" >&2
  exit 1
fi
bindir=$(cd "$1" && pwd)
model=$(cd "$2" && pwd)
seconds=$3
shift 3
for f in qvdclient agentsim libvaxel.so; do
  if [ ! -e "$bindir/$f" ]; then
    echo "soak: $bindir/$f is missing: build the project first" >&2
    exit 1
  fi
done

if [ -n "${SOAK_WORK:-}" ]; then
  work=$SOAK_WORK
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/qvd-soak-XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
home="$work/halcyon"
bin="$home/linux64/vd/bin"
mkdir -p "$bin" "$home/config" "$work/velora" "$work/model"
printf '#!/bin/sh\n' >"$bin/qvdstart.sh"
printf '[Vaxel]\nTRANSLOG_STATUS=0\n' >"$work/velora/vaxel.ini"
cp "$work/velora/vaxel.ini" "$work/vaxel.ini.before"
# The soak changes the model: it works on a copy.
cp "$model"/stats.txt "$model"/server.json "$work/model/"
rm -f "$work/calls.log" "$work/feed" "$work/feed.offset"
: >"$work/feed"
# The database check: every database, the views of the mail databases.
printf 'mail/* = AllDocuments, ($Inbox), ($Drafts)\nnames.vdb = $Connections\n' >"$work/views.conf"

cat >"$work/soak.env" <<ENV
QVD_SERVER=srv1/acme
QVD_VAXELINIPATH=$work/velora
HALCYONHOME=$home
QVD_BINARCH=linux64
QVD_INSTANCE_NAME=soak
VAXEL_SIM_DIR=$work/model
VAXEL_SIM_LOG=$work/calls.log
QVD_TRACE_FILE=$work/qvdclient.trace
QVD_CHECK_DB_INTERVAL=3600
QVD_CHECK_DB_INCLUDE_PATH=*
QVD_CHECK_DB_VIEW_CONFIG_FILE=$work/views.conf
QVD_LOG_VDB_MONITOR=ON
QVD_VELORA_GROUP_MONITOR=ON
ENV
# The add-in's events need the relay stand-in in the installation.
if [ -x "$bindir/qvdmvevent" ]; then
  ln -sf "$bindir/qvdmvevent" "$bin/qvdmvevent"
  cat >>"$work/soak.env" <<ENV
QVD_MVPORT=$((20000 + RANDOM % 20000))
QVD_MVHOSTNAME=127.0.0.1
QVD_MVEVENT_FILE=$work/feed
QVD_MVEVENT_LOG=$work/relay.log
ENV
else
  echo "soak: $bindir/qvdmvevent is missing: no events, no relay" >&2
fi

echo "== soak of qvdclient for $seconds s, model $model (copy in $work/model)"
set +e
"$bindir/agentsim" --env-file "$work/soak.env" --collector-output "$work/qvdclient.out" \
  --expect-status 30 --soak "$seconds" --soak-model "$work/model" "$@" \
  -- "$bindir/qvdclient"
result=$?
set -e

echo "== after the soak"
if ! cmp -s "$work/vaxel.ini.before" "$work/velora/vaxel.ini"; then
  echo "soak: vaxel.ini was not restored to what it was" >&2
  result=1
fi
exitline=$(grep '^exit ' "$work/calls.log" | tail -n 1 || true)
echo "simulator at the collector's exit: ${exitline:-no exit line}"
echo "call log: $(wc -l <"$work/calls.log") lines"
if [ -f "$work/relay.log" ]; then
  echo "relay: $(grep -c 'started, listening' "$work/relay.log" || true) starts," \
       "$(grep -c 'connected to the collector' "$work/relay.log" || true) connections"
fi
echo "trace: $(grep -c ' ERROR ' "$work/qvdclient.trace" || true) error lines"
if [ -s "$work/qvdclient.out" ]; then
  echo "== qvdclient's own output (last lines)"
  tail -n 20 "$work/qvdclient.out"
fi
case $result in
  0) echo "== soak finished: no protocol violation, qvdclient ended with exit status 30" ;;
  *) echo "== soak: agentsim reported a problem (exit status $result)" >&2
     tail -n 20 "$work/qvdclient.trace" >&2 || true ;;
esac
exit $result
