#!/usr/bin/env bash
# Sets everything up on a fresh machine and runs the till's main job on the
# embedded default: installs what is missing, builds, creates the sample shop
# database (SQLite, in the user's data folder) when it is not there yet, lists
# its payment types and runs a sample sale through the discount calculation.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
ninja -C build selvo-host selvopayments
host=build/host/selvo-host
db="${XDG_DATA_HOME:-$HOME/.local/share}/selvo/shop.db"
[ -f "$db" ] || "$host" init
"$host" payments
"$host" calc --explain examples/sale.json
