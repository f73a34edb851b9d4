#!/usr/bin/env bash
# Runs the collector's demo: qvdclient, started by agentsim, against a model
# of the simulated server.  Shows the registration, every statistics table
# with its column names and the status file, then shuts the collector down
# and reports its exit status (30).
#
# usage: tools/agentsim/demo.sh <bindir> <model dir>
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 <bindir> <model dir>" >&2
  exit 1
fi
here=$(cd "$(dirname "$0")" && pwd)
bindir=$(cd "$1" && pwd)
model=$(cd "$2" && pwd)
for f in qvdclient agentsim libvaxel.so; do
  if [ ! -e "$bindir/$f" ]; then
    echo "demo: $bindir/$f is missing: build the project first" >&2
    exit 1
  fi
done

# A throw-away installation: the agent's home with its platform directory
# (the status file and the start script that serves as the installation's
# lock file live there), a config directory for ini backups, and a copy of
# a vaxel.ini (the model's own when it has one).
work=$(mktemp -d "${TMPDIR:-/tmp}/qvd-demo-XXXXXX")
keep=0
trap 'if [ "$keep" = 0 ]; then rm -rf "$work"; fi' EXIT
binarch=linux64
instance=demo
home="$work/halcyon"
bin="$home/$binarch/vd/bin"
inidir="$work/velora"
mkdir -p "$bin" "$home/config" "$inidir"
printf '#!/bin/sh\n' >"$bin/qvdstart.sh"
if [ -f "$model/vaxel.ini" ]; then
  cp "$model/vaxel.ini" "$inidir/vaxel.ini"
else
  cp "$here/demo_vaxel.ini" "$inidir/vaxel.ini"
fi
cp "$inidir/vaxel.ini" "$work/vaxel.ini.before"
# The collector works on a copy of the model, which the demo changes while
# it runs.
cp -R "$model" "$work/model"
model="$work/model"
printf 'mail/alice.vdb = AllDocs, ($Inbox), ($Drafts), ($Sent)\n' >"$work/views.cfg"

cat >"$work/demo.env" <<ENV
QVD_SERVER=srv1/acme
QVD_VAXELINIPATH=$inidir
HALCYONHOME=$home
QVD_BINARCH=$binarch
QVD_INSTANCE_NAME=$instance
VAXEL_SIM_DIR=$model
QVD_TRACE_FILE=$work/qvdclient.trace
QVD_CHECK_DB_INTERVAL=3600
QVD_CHECK_DB_INCLUDE_PATH=names.vdb;mail/alice.vdb;mail/bob.vdb;mail/moved.vdb;apps/*
QVD_CHECK_DB_EXCLUDE_PATH=apps/archive
QVD_CHECK_DB_VIEW_CONFIG_FILE=$work/views.cfg
QVD_VELORA_GROUP_MONITOR=ON
ENV
status_file="$bin/qvd_${instance}_status.out"

echo "== qvdclient under agentsim, model $model"
# A directory group is renamed a few seconds into the run.
(sleep 4 && sed 's/"Developers"/"Auditors"/' "$model/server.json" >"$model/.server.json" &&
  mv "$model/.server.json" "$model/server.json") &
set +e
"$bindir/agentsim" --env-file "$work/demo.env" --collector-output "$work/qvdclient.out" \
  --expect-status 30 \
  -e registration -e 'note every statistics table the collector registered' \
  -e 'request all' -e 'expect all' \
  -e 'note the availability status file (server status, cluster status)' \
  -e "show \"$status_file\"" \
  -e 'note the database check: one bad database costs 16 seconds; the first results come after its first cycle' \
  -e 'sleep 30' -e 'request Velora_Corrupt_Failover_DB Velora_DB_Whitespace Velora_Group_Updates' \
  -e 'expect all' \
  -- "$bindir/qvdclient"
result=$?

# The replication table: the same collector with QVD_LOG_VDB_MONITOR on,
# asked for Velora_Replication alone (hits 1, misses 2, manual runs 3).
echo "== Velora_Replication of the model's log and connections"
"$bindir/agentsim" --env-file "$work/demo.env" --env QVD_LOG_VDB_MONITOR=ON \
  --collector-output "$work/qvdclient.out" --expect-status 30 \
  -e 'request Velora_Replication' -e 'expect all' \
  -- "$bindir/qvdclient"
replication=$?
if [ "$result" = 0 ]; then result=$replication; fi
set -e

if ! cmp -s "$work/vaxel.ini.before" "$inidir/vaxel.ini"; then
  echo "demo: vaxel.ini was not restored to what it was" >&2
  result=1
fi
if [ -s "$work/qvdclient.out" ]; then
  echo "== qvdclient's own output"
  cat "$work/qvdclient.out"
fi
case $result in
  0) echo "== demo finished: qvdclient ended with exit status 30 as expected" ;;
  4) echo "== demo: qvdclient did not end with exit status 30 (see above)" >&2 ;;
  *) keep=1
     echo "== demo: agentsim reported a problem (exit status $result); files kept in $work" >&2
     if [ -f "$work/qvdclient.trace" ]; then tail -n 20 "$work/qvdclient.trace" >&2; fi ;;
esac
exit $result
