#!/usr/bin/env bash
# Keeps the floors of the source tree: every #include of a project header
# and every link to a project library (a qvd_* target) goes from a folder to
# itself or to a folder the table below allows, and the table only allows
# folders listed above the one that includes them, so the graph between
# folders has no cycle.  core/ is the top floor of the collector: it starts
# every subsystem, and nothing below it includes or links it.
#
# Usage: scripts/check_layering.sh [--graph] [source-root]
#   Exits 0 when every include and link keeps to the table, 1 otherwise (one
#   line per offence: file, line, what it includes and what the folder may
#   include), 2 when the table itself is wrong.  --graph also prints the
#   include graph between folders (number of includes per arrow).
set -uo pipefail
set -f  # the table's `*` is a word, not a pattern

# Floors, lowest first.  Each folder may include its own headers and those
# of the folders after the colon, which must all be listed above it; `*`
# means every folder listed above.  Tests and fuzz entries of a folder
# (*_test.cc, *_testutil.*, fuzz/) may also include sim/, the simulated
# server; the collector's own code never does.
LAYERS='
framework:
serverapi:   framework
sim:         serverapi
util:        framework serverapi
agentlink:   framework util
state:       framework serverapi
stats:       state agentlink util serverapi framework
dbhealth:    state agentlink util serverapi framework
replication: state agentlink util serverapi framework
addin:       stats dbhealth state agentlink util serverapi framework
core:        addin replication dbhealth stats state agentlink util serverapi framework
agentside:   stats
qvdexporter: agentside stats state
cmake:
tools:       *
tests:       *
bench:       *
'
TEST_ONLY_FOLDER=sim

graph=0
if [ "${1:-}" = "--graph" ]; then
  graph=1
  shift
fi
root="${1:-$(dirname "$0")/..}"
cd "$root" || exit 2

declare -A allowed known
order=()
while read -r line; do
  [ -z "$line" ] && continue
  folder="${line%%:*}"
  deps="${line#*:}"
  if [ -n "${known[$folder]:-}" ]; then
    echo "layering table: $folder is listed twice" >&2
    exit 2
  fi
  list=" "
  for d in $deps; do
    if [ "$d" = "*" ]; then
      list+="${order[*]} "
    elif [ -z "${known[$d]:-}" ]; then
      echo "layering table: $folder may include $d, which is not listed above it" >&2
      exit 2
    else
      list+="$d "
    fi
  done
  allowed[$folder]="$list"
  known[$folder]=1
  order+=("$folder")
done <<<"$LAYERS"

is_test_file() {
  case "$1" in
    *_test.cc | *_testutil.h | *_testutil.cc | */fuzz/*) return 0 ;;
  esac
  return 1
}

# may <from-folder> <to-folder> <file>: true when the arrow is allowed.
may() {
  [ "$1" = "$2" ] && return 0
  [[ "${allowed[$1]}" == *" $2 "* ]] && return 0
  [ "$2" = "$TEST_ONLY_FOLDER" ] && is_test_file "$3" && return 0
  return 1
}

# shown <folder>: what the folder may include, for a message.
shown() {
  local list="${allowed[$1]% }"
  echo "${list:- (nothing)}"
}

failed=0
complain() {
  echo "$*"
  failed=1
}

# Top-level folders that hold sources must be in the table, so that a new
# folder takes its place on purpose.
declare -A seen_folder
while IFS= read -r f; do
  folder="${f%%/*}"
  [ -n "${seen_folder[$folder]:-}" ] && continue
  seen_folder[$folder]=1
  [ -z "${known[$folder]:-}" ] &&
    complain "$folder/: a folder with sources that the layering table (scripts/check_layering.sh) does not list"
done < <(find . \( -name '.?*' -o -name 'build*' \) -prune -o -type f \
           \( -name '*.h' -o -name '*.cc' -o -name '*.c' -o -name '*.in' \) -print |
           sed 's#^\./##' | grep / | sort)

# The folders of the table that this tree has.
present=()
for folder in "${order[@]}"; do
  [ -d "$folder" ] && present+=("$folder")
done

# Includes: `#include "folder/..."` or `<folder/...>` of a folder in the table.
declare -A arrows
while IFS= read -r hit; do
  file="${hit%%:*}"
  rest="${hit#*:}"
  lineno="${rest%%:*}"
  text="${rest#*:}"
  [[ "$text" =~ include[[:space:]]*[\"\<]([A-Za-z0-9_]+)/ ]] || continue
  target="${BASH_REMATCH[1]}"
  [ -z "${known[$target]:-}" ] && continue
  from="${file%%/*}"
  [ -z "${known[$from]:-}" ] && continue  # reported above
  [ "$from" != "$target" ] && arrows["$from -> $target"]=$((${arrows["$from -> $target"]:-0} + 1))
  may "$from" "$target" "$file" ||
    complain "$file:$lineno: $from/ includes $target/ (${text#"${text%%[![:space:]]*}"}); $from/ may include only:$(shown "$from")"
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<][A-Za-z0-9_]+/' \
           --include='*.h' --include='*.cc' --include='*.c' --include='*.in' "${present[@]}" | sort)

# Links: a qvd_* target named in a folder's CMakeLists.txt files and defined
# in another folder.
declare -A target_folder
while IFS= read -r hit; do
  file="${hit%%:*}"
  [[ "${hit#*:}" =~ \([[:space:]]*(qvd_[A-Za-z0-9_]+) ]] || continue
  target_folder[${BASH_REMATCH[1]}]="${file%%/*}"
done < <(grep -rE '^[[:space:]]*(qvd_module|add_library|add_executable|add_custom_target)\([[:space:]]*qvd_' \
           --include=CMakeLists.txt "${present[@]}")
while IFS= read -r cml; do
  from="${cml%%/*}"
  [ -z "${known[$from]:-}" ] && continue
  lineno=0
  while IFS= read -r text; do
    lineno=$((lineno + 1))
    code="${text%%#*}"
    while [[ "$code" =~ (^|[^A-Za-z0-9_])(qvd_[A-Za-z0-9_]+)(.*)$ ]]; do
      name="${BASH_REMATCH[2]}"
      code="${BASH_REMATCH[3]}"
      to="${target_folder[$name]:-}"
      [ -z "$to" ] && continue
      may "$from" "$to" "$cml" ||
        complain "$cml:$lineno: $from/ links $name of $to/; $from/ may use only:$(shown "$from")"
    done
  done <"$cml"
done < <(find "${present[@]}" -name CMakeLists.txt | sort)

if [ "$graph" = 1 ]; then
  echo "Include graph between folders (includes per arrow):"
  for a in "${!arrows[@]}"; do
    printf '  %-28s %4d\n' "$a" "${arrows[$a]}"
  done | sort
fi
if [ "$failed" = 1 ]; then
  echo "layering check failed: the floors are in scripts/check_layering.sh"
  exit 1
fi
echo "layering check passed"
