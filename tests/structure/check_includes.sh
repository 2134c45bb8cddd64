#!/usr/bin/env bash
# Checks which folders a folder's files may include, so that dependencies
# keep running one way:
#   platform  <-  interface  <-  support, payments, discounts  <-  editor
# and the host reaches the module through the host-facing header only.
# Usage: check_includes.sh SOURCE_DIR. Prints every violation; exit 1 if any.
set -uo pipefail
cd "${1:?source dir}"

status=0
# forbid FOLDER-OR-FILE-GLOB PATTERN-OF-INCLUDED-PATH WHY
forbid() {
  local where=$1 pattern=$2 why=$3 hits
  # shellcheck disable=SC2086
  hits=$(grep -HnE "^[[:space:]]*#[[:space:]]*include[[:space:]]+\"($pattern)" $where 2>/dev/null)
  if [ -n "$hits" ]; then
    echo "$why:"
    echo "$hits" | sed 's/^/  /'
    status=1
  fi
}

forbid "platform/*.h platform/*.cpp" "interface/|payments/|discounts/|editor/|support/|host/" \
  "platform/ is the lowest layer and includes no other folder of the module"

public_headers="interface/SelvoPaymentsTypes.h interface/SelvoDataSets.h interface/SelvoCallbacks.h
                interface/SelvoRecords.h interface/SelvoPaymentList.h platform/Errors.h"
for h in $public_headers; do
  [ -f "$h" ] || { echo "missing host-facing header $h"; status=1; continue; }
  hits=$(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' "$h" |
         grep -vE '"(interface/Selvo(DataSets|Callbacks|Records|PaymentList)\.h|platform/Errors\.h)"')
  if [ -n "$hits" ]; then
    echo "host-facing header $h includes a module-internal header:"
    echo "$hits" | sed 's/^/  /'
    status=1
  fi
done

module_dirs="platform interface payments discounts support editor"
for d in $module_dirs; do
  [ -d "$d" ] || continue
  forbid "$d/*.h $d/*.cpp" "host/|tests/|bench/|tools/" "the module ($d/) does not depend on the host or the tests"
done
forbid "support/*.h support/*.cpp" "payments/|discounts/|editor/" "support/ serves the module's other folders, not the reverse"
forbid "payments/*.h payments/*.cpp discounts/*.h discounts/*.cpp" "editor/" \
  "payments/ and discounts/ do not depend on the editor windows"

# The host reaches the module through its exports and the host-facing header.
# Only host/InProcessCalculation.* links the module's own calculation, for the
# trace of --explain and the ban lines of --json.
host_files=$(ls host/*.h host/*.cpp | grep -v '^host/InProcessCalculation\.')
forbid "$host_files" "payments/|discounts/|support/|editor/|interface/SelvoModuleU|interface/IdentifierAllocator" \
  "the host uses the module through its exports (the calculation trace lives in host/InProcessCalculation)"

[ $status -eq 0 ] && echo "include rules hold"
exit $status
