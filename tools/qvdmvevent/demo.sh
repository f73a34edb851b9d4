#!/usr/bin/env bash
# The add-in part of the demo: qvdclient with the Mirvane add-in configured
# (QVD_MVPORT, QVD_MVHOSTNAME), started by agentsim against a copy of a
# server model.  Shows the seven add-in tables, the two parameter documents
# the collector writes into mirvane/mvparam.vdb, and events fed to the relay
# (qvdmvevent) arriving as MV_Server event rows.
#
# usage: tools/qvdmvevent/demo.sh <bindir> <model dir>
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 <bindir> <model dir>" >&2
  exit 1
fi
bindir=$(cd "$1" && pwd)
model=$(cd "$2" && pwd)
for f in qvdclient agentsim qvdmvevent libvaxel.so; do
  if [ ! -e "$bindir/$f" ]; then
    echo "add-in demo: $bindir/$f is missing: build the project first" >&2
    exit 1
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qvd-addin-demo-XXXXXX")
trap 'rm -rf "$work"' EXIT
home="$work/halcyon"
bin="$home/linux64/vd/bin"
mkdir -p "$bin" "$home/config" "$work/velora" "$work/model"
printf '#!/bin/sh\n' >"$bin/qvdstart.sh"
printf '[Vaxel]\nTRANSLOG_STATUS=0\n' >"$work/velora/vaxel.ini"
ln -s "$bindir/qvdmvevent" "$bin/qvdmvevent"
# The model, with the add-in's parameter database.
cp "$model/stats.txt" "$work/model/stats.txt"
if grep -q 'mvparam.vdb' "$model/server.json"; then
  cp "$model/server.json" "$work/model/server.json"
else
  sed '1s/{/{"databases": {"mirvane\/mvparam.vdb": {}},/' "$model/server.json" >"$work/model/server.json"
fi
# Two events the relay forwards once the collector has registered with it.
printf 'srv2/acme\t2\tMail router queue above 500 messages\n' >"$work/feed"
printf '!raw E\\x1fsrv3/acme\\x1fReplication to srv2/acme\\x1f1\\x1e\n' >>"$work/feed"

cat >"$work/demo.env" <<ENV
QVD_SERVER=srv1/acme
QVD_VAXELINIPATH=$work/velora
HALCYONHOME=$home
QVD_BINARCH=linux64
QVD_INSTANCE_NAME=demo
VAXEL_SIM_DIR=$work/model
QVD_TRACE_FILE=$work/qvdclient.trace
QVD_MVPORT=$((20000 + RANDOM % 20000))
QVD_MVHOSTNAME=127.0.0.1
QVD_MVEVENT_FILE=$work/feed
QVD_MVEVENT_LOG=$work/relay.log
ENV

echo "== the Mirvane add-in: its tables, its parameter documents and two relayed events"
echo "   (the relay is registered about ten seconds after start)"
set +e
"$bindir/agentsim" --env-file "$work/demo.env" --collector-output "$work/qvdclient.out" \
  --expect-status 30 \
  -e registration \
  -e 'note the seven add-in tables' \
  -e 'request MV_View_Performance_Statistics MV_Replication_Statistics MV_Replication_Delay_Statistics' \
  -e 'request MV_Mail_Size_Statistics MV_Mail_Domain_Statistics MV_Mail_Incoming_Statistics MV_Mail_Outgoing_Statistics' \
  -e 'expect all' \
  -e 'note events fed to the relay, as MV_Server event rows' \
  -e 'expect-event 2 45' \
  -e 'note the parameter documents written into mirvane/mvparam.vdb' \
  -e "show \"$work/model/created.jsonl\"" \
  -- "$bindir/qvdclient"
result=$?
set -e
echo "== the relay's log"
cat "$work/relay.log" 2>/dev/null || true
case $result in
  0) echo "== add-in demo finished: qvdclient ended with exit status 30 as expected" ;;
  *) echo "== add-in demo: agentsim reported a problem (exit status $result)" >&2
     tail -n 20 "$work/qvdclient.trace" >&2 || true ;;
esac
exit $result
