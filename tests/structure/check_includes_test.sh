#!/usr/bin/env bash
# The include rules catch two folders that include each other even where no
# rule forbids either include alone (payments/ and discounts/ may each use
# the other's headers, but not both ways).
# Usage: check_includes_test.sh SOURCE_DIR.
set -uo pipefail
check="${1:?source dir}/tests/structure/check_includes.sh"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/include/selvo "$tree"/payments "$tree"/discounts "$tree"/host/shopdb
echo '#pragma once' >"$tree"/include/selvo/Types.h
printf '#include "selvo/Types.h"\n#include "discounts/Card.h"\n' >"$tree"/payments/List.cpp
echo '#include "payments/List.h"' >"$tree"/discounts/Card.cpp
touch "$tree"/payments/List.h "$tree"/discounts/Card.h "$tree"/host/shopdb/Db.h

output=$(bash "$check" "$tree")
code=$?
if [ $code -ne 1 ] || ! grep -q 'cycle' <<<"$output" || ! grep -q 'payments' <<<"$output" ||
  ! grep -q 'discounts' <<<"$output"; then
  echo "a cycle between payments/ and discounts/ was not reported (exit $code):"
  echo "$output"
  exit 1
fi
rm "$tree"/discounts/Card.cpp
if ! output=$(bash "$check" "$tree"); then
  echo "the same tree without the cycle was refused:"
  echo "$output"
  exit 1
fi
echo "a cycle between folders is caught"
