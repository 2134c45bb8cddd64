#!/usr/bin/env bash
# Checks which folders a folder's files may include, so that dependencies
# keep running one way:
#   include/selvo  <-  platform  <-  state  <-  support  <-  payments, discounts  <-  editor  <-  module
#   host: shopdb  <-  session  <-  windows  <-  program
# the host reaches the module through its public headers (include/selvo)
# only, and no two folders include each other, however long the way round.
# Usage: check_includes.sh SOURCE_DIR. Prints every violation; exit 1 if any.
set -uo pipefail
cd "${1:?source dir}"

status=0
include_line='^[[:space:]]*#[[:space:]]*include[[:space:]]+"'

# forbid FILES PATTERN-OF-INCLUDED-PATH WHY
forbid() {
  local where=$1 pattern=$2 why=$3 hits
  # shellcheck disable=SC2086
  hits=$(grep -HnE "${include_line}($pattern)" $where 2>/dev/null)
  if [ -n "$hits" ]; then
    echo "$why:"
    echo "$hits" | sed 's/^/  /'
    status=1
  fi
}
files_of() { ls "$1"/*.h "$1"/*.cpp 2>/dev/null | tr '\n' ' '; }

# The public headers, which `cmake --install` places for hosts, include
# nothing but each other.
public=$(files_of include/selvo)
[ -n "$public" ] || { echo "no public headers in include/selvo"; status=1; }
hits=$(grep -HnE "$include_line" $public | grep -vE '"selvo/[A-Za-z0-9]+\.h"')
if [ -n "$hits" ]; then
  echo "a public header includes a header of the project's own folders:"
  echo "$hits" | sed 's/^/  /'
  status=1
fi

module_internal="state/|support/|payments/|discounts/|editor/|module/"
forbid "$(files_of platform)" "state/|support/|payments/|discounts/|editor/|module/|host/" \
  "platform/ is the lowest layer of the module and includes only the public headers"
forbid "$(files_of state)" "support/|payments/|discounts/|editor/|module/|host/" \
  "state/ (the module's shared state) is used by the module's folders and uses none of them"
forbid "$(files_of support)" "payments/|discounts/|editor/|module/" \
  "support/ serves the module's other folders, not the reverse"
forbid "$(files_of payments) $(files_of discounts)" "editor/|module/" \
  "payments/ and discounts/ do not depend on the editor windows or the module's top"
forbid "$(files_of editor)" "module/" "editor/ does not depend on the module's top"
for d in platform state support payments discounts editor module; do
  forbid "$(files_of $d)" "host/|tests/|bench/|tools/" "the module ($d/) does not depend on the host or the tests"
done

# The host reaches the module through its exports and the public headers;
# the platform services underneath (texts, formats, clock) are shared.
# Only host/session/InProcessCalculation.* links the module's own
# calculation, for the trace of --explain and the ban lines of --json, and
# host/insight/SettingsCheck.* reads the cards as the calculation does, and
# host/insight/HistorySummary.cpp reads their stored lists as the cards do.
host_files=$(ls host/*/*.h host/*/*.cpp 2>/dev/null | grep -v '^host/session/InProcessCalculation\.' |
  grep -v '^host/insight/SettingsCheck\.' | grep -v '^host/insight/HistorySummary\.cpp' | tr '\n' ' ')
forbid "$host_files" "$module_internal" \
  "the host uses the module through its exports (the calculation trace lives in host/session/InProcessCalculation)"
forbid "$(files_of host/shopdb)" "host/session/|host/windows/|host/service/|host/program/" \
  "host/shopdb/ (the shop database) is used by the rest of the host and uses none of it"
forbid "$(files_of host/session)" "host/windows/|host/service/|host/program/" \
  "host/session/ does not depend on windows, the service or commands"
forbid "$(files_of host/service)" "host/windows/|host/program/" "host/service/ does not depend on windows or commands"
forbid "$(files_of host/insight)" "host/windows/|host/service/|host/program/" \
  "host/insight/ does not depend on windows, the service or commands"
forbid "$(files_of host/journal)" "host/shopdb/|host/windows/|host/service/|host/insight/|host/program/" \
  "host/journal/ (the sales journal) stands on its own"
# ...but for the bounds of the JSON read from outside, which the journal's
# reader applies as every reader of such JSON does.
hits=$(grep -HnE "${include_line}host/session/" $(files_of host/journal) 2>/dev/null | grep -v '"host/session/SaleJson\.h"')
if [ -n "$hits" ]; then
  echo "host/journal/ uses only the sale JSON of host/session/:"
  echo "$hits" | sed 's/^/  /'
  status=1
fi
forbid "$(files_of host/windows)" "host/program/" "host/windows/ does not depend on the commands"
hits=$(grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+<Q' $(files_of host/shopdb) $(files_of host/session) \
  $(files_of host/service) 2>/dev/null)
if [ -n "$hits" ]; then
  echo "host/shopdb/, host/session/ and host/service/ run without Qt:"
  echo "$hits" | sed 's/^/  /'
  status=1
fi

# No cycle between folders: every include is an edge from the including
# file's folder to the included file's folder; tsort finds any loop.
folder_of() {
  case $1 in
    include/selvo/* | selvo/*) echo selvo ;;
    host/*/* | tests/*/* | bench/*/*) echo "${1%/*}" ;;
    */*) echo "${1%%/*}" ;;
    *) echo . ;;
  esac
}
edges=$(
  for f in $(ls include/selvo/* platform/* state/* support/* payments/* discounts/* editor/* module/* \
    host/*/* 2>/dev/null | grep -E '\.(h|cpp)$'); do
    from=$(folder_of "$f")
    grep -hoE "${include_line}[^\"]+\"" "$f" | sed -E 's/.*"([^"]+)"/\1/' | while read -r included; do
      to=$(folder_of "$included")
      [ "$from" != "$to" ] && echo "$to $from"
    done
  done | sort -u
)
if ! loop=$(echo "$edges" | tsort 2>&1 >/dev/null) || [ -n "$loop" ]; then
  echo "folders that include each other (a cycle):"
  echo "$loop" | sed 's/^tsort: /  /'
  status=1
fi

[ $status -eq 0 ] && echo "include rules hold"
exit $status
