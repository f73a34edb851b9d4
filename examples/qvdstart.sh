#!/bin/sh
# qvdstart.sh: starts the qvdclient collector for one Velora server instance.
#
# Install it as $HALCYONHOME/<platform>/vd/bin/qvdstart.sh, beside qvdclient.
# This file is also the installation's lock file: every collector locks it
# while it switches the transaction log in vaxel.ini, so it must stay in
# place and be readable and writable by the collectors' user.
#
# Usage: qvdstart.sh ENV_FILE [--check]
#   ENV_FILE  the instance's settings, NAME=VALUE lines (see qvdclient.env)
#   --check   only check those settings (qvdclient --check); exit status 0
#             when start-up would get through, 1 when it would stop
# The agent sets CP_PORT; every other setting comes from ENV_FILE.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
env_file=${1:?usage: qvdstart.sh ENV_FILE [--check]}
case $env_file in
  */*) ;;
  *) env_file=./$env_file ;;  # "." searches PATH for a name without a slash
esac
if [ ! -r "$env_file" ]; then
  echo "qvdstart.sh: cannot read $env_file" >&2
  exit 2
fi

set -a
. "$env_file"
set +a

# qvdclient finds libvaxel.so beside itself or through the library path.
# When the server's library lives elsewhere, name its directory here, e.g.
#   LD_LIBRARY_PATH=/opt/velora/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
#   export LD_LIBRARY_PATH

if [ "${2:-}" = "--check" ]; then
  exec "$here/qvdclient" --check
fi
exec "$here/qvdclient"
