#!/usr/bin/env bash
# Formats the C++ sources with .clang-format. With --check it changes
# nothing and fails, listing the files, when any source is not formatted.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  bad=()
  for f in "${files[@]}"; do
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
  done
  if [ ${#bad[@]} -gt 0 ]; then
    echo "not formatted (run scripts/format.sh):" >&2
    printf '  %s\n' "${bad[@]}" >&2
    exit 1
  fi
  echo "format: ${#files[@]} files formatted"
else
  clang-format -i "${files[@]}"
fi
