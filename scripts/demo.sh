#!/usr/bin/env bash
# Builds the project and runs the collector against the example server
# model with the stand-in agent.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh default
if [ ! -x build/bin/qvdclient ] || [ ! -x build/bin/agentsim ]; then
  echo "The collector is not built yet: nothing to demonstrate." >&2
  exit 1
fi
tools/agentsim/demo.sh build/bin examples/server
# The Mirvane add-in: its tables and parameter documents, and events
# relayed by qvdmvevent.
tools/qvdmvevent/demo.sh build/bin examples/server
