#!/usr/bin/env bash
# Builds and runs every fuzz target (fuzz/<name>_fuzz.cpp -> fuzz_<name>) for
# a bounded time on its seed corpus fuzz/corpus/<name>/ when there is one.
# Fails when a target cannot be built or finds a crash.
#
#   bash fuzz/run.sh [build-dir]     (default: build-fuzz)
#
# The build directory is configured with clang and -DSELVO_FUZZ=ON when it is
# not yet. FUZZ_SECONDS changes the time per target (default 30).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-build-fuzz}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
seconds="${FUZZ_SECONDS:-30}"

if ! grep -q '^SELVO_FUZZ:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
    -DSELVO_FUZZ=ON -DSELVO_BENCH=OFF -DBUILD_TESTING=OFF >/dev/null
fi

shopt -s nullglob
sources=("$root"/fuzz/*_fuzz.cpp)
if [ ${#sources[@]} -eq 0 ]; then
  echo "no fuzz targets"
  exit 0
fi

status=0
for src in "${sources[@]}"; do
  name="$(basename "$src" _fuzz.cpp)"
  target="fuzz_$name"
  ninja -C "$build" "$target"
  work="$(mktemp -d)"
  # New inputs go to a scratch folder; the seed corpus in the tree stays as it is.
  corpora=("$work/corpus")
  mkdir -p "$work/corpus" "$work/artifacts"
  [ -d "$root/fuzz/corpus/$name" ] && corpora+=("$root/fuzz/corpus/$name")
  echo "== $target for ${seconds}s"
  if "$build/fuzz/$target" -max_total_time="$seconds" -max_len=16384 -print_final_stats=1 \
       -artifact_prefix="$work/artifacts/" "${corpora[@]}"; then
    echo "$target: no crash"
  else
    echo "$target: FAILED; inputs:" >&2
    for crash in "$work"/artifacts/*; do
      echo "  $crash" >&2
      od -c "$crash" | head -20 >&2
    done
    status=1
  fi
  [ "$status" -eq 0 ] && rm -rf "$work"
done
exit "$status"
