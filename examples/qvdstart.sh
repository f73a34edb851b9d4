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
# A wrong command line ends with exit status 2 and starts nothing.
#
# ENV_FILE is read as data, never run as shell commands, with the rules of
# agentsim --env-file: a line holding only blanks, or whose first non-blank
# character is #, is skipped; a carriage return at the end of a line is
# dropped; any other line must be NAME=VALUE, the name being everything
# before the first =, the value everything after it, verbatim (quotes,
# blanks, ; * $ and \ included).
set -eu

usage() {
  echo "usage: qvdstart.sh ENV_FILE [--check]" >&2
  exit 2
}

here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 1 ] && [ $# -le 2 ] || usage
env_file=$1
mode=${2:-}
case $mode in
  ""|--check) ;;
  *) usage ;;
esac
if [ ! -r "$env_file" ] || [ -d "$env_file" ]; then
  echo "qvdstart.sh: cannot read $env_file" >&2
  exit 2
fi

# The settings become arguments NAME=VALUE of env(1), which puts them into
# the collector's environment as they are.
cr=$(printf '\r')
blanks=$(printf ' \t')
set --
line_no=0
while IFS= read -r line || [ -n "$line" ]; do
  line_no=$((line_no + 1))
  line=${line%"$cr"}
  rest=${line#"${line%%[!$blanks]*}"}
  case $rest in
    ""|\#*) continue ;;
  esac
  case $line in
    =*|"") echo "qvdstart.sh: $env_file:$line_no: expected NAME=VALUE" >&2; exit 2 ;;
    *=*) set -- "$@" "$line" ;;
    *) echo "qvdstart.sh: $env_file:$line_no: expected NAME=VALUE" >&2; exit 2 ;;
  esac
done < "$env_file"

# qvdclient finds libvaxel.so beside itself or through the library path.
# When the server's library lives elsewhere, name its directory here, e.g.
#   LD_LIBRARY_PATH=/opt/velora/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
#   export LD_LIBRARY_PATH

if [ "$mode" = "--check" ]; then
  exec env -- "$@" "$here/qvdclient" --check
fi
exec env -- "$@" "$here/qvdclient"
