#!/usr/bin/env bash
# Installs what is missing, builds the project in build/ and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# SELVO_CMAKE_ARGS: extra configure options (CI turns warnings into errors).
cmake -S . -B build -G Ninja ${SELVO_CMAKE_ARGS:-} >/dev/null
ninja -C build
cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2
