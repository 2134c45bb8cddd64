#!/usr/bin/env bash
# test-fresh-machine.sh DEB: installs the package with apt into a fresh
# minimal Debian (debootstrap, the machine's own suite and mirror) where no
# build dependency is present, and runs init and calc there: the package's
# dependencies, found from its binaries, are all it needs. Needs root and
# the Debian mirror.
set -euo pipefail
deb=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
fresh=${FRESH_ROOT:-/var/tmp/selvo-fresh}
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
mirror=${mirror:-http://deb.debian.org/debian}
command -v debootstrap >/dev/null || apt-get install -y -qq debootstrap >/dev/null
# Fresh every time: nothing of an earlier run (the user, the package's
# dependencies) may make the install pass.
umount "$fresh/proc" 2>/dev/null || true
rm -rf --one-file-system "$fresh"
debootstrap --variant=minbase "$suite" "$fresh" "$mirror" >/dev/null
cleanup() { umount "$fresh/proc" 2>/dev/null || true; }
trap cleanup EXIT
mount -t proc proc "$fresh/proc"
cp "$deb" "$root/examples/sale.json" "$fresh/tmp/"
in_fresh() { chroot "$fresh" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
in_fresh apt-get update -qq
in_fresh env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "/tmp/$(basename "$deb")" >/dev/null
in_fresh runuser -u selvo -- selvo-host init --db /var/lib/selvo/shop.db
in_fresh runuser -u selvo -- selvo-host calc --db /var/lib/selvo/shop.db /tmp/sale.json
in_fresh env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq selvo >/dev/null
[ -f "$fresh/var/lib/selvo/shop.db" ] || { echo "remove took the shop's database" >&2; exit 1; }
echo "test-fresh-machine: passed in a fresh $suite"
