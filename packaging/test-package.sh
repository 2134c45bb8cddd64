#!/usr/bin/env bash
# test-package.sh: builds the Debian packages in build-deb/, checks them and
# the unit's confinement, installs them with apt on this machine, runs the
# installed program and service the way the unit does, rotates the journal
# and removes the packages again. Needs root (apt, the service's user).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build-deb}
port=18750
fail() { echo "test-package: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "needs root (apt-get install, the user selvo)"
export DEBIAN_FRONTEND=noninteractive
# An earlier run cut off mid-install (a killed CI job) leaves dpkg half done;
# apt refuses everything until it is finished.
dpkg --configure -a >/dev/null
# It replaces the shop database in /var/lib/selvo: never on a station. The
# mark says the installed package is one an interrupted run of this test left.
mark=/var/tmp/selvo-test-package.installed
if dpkg-query -W -f='${Status}' selvo 2>/dev/null | grep -q 'ok installed'; then
  [ -f "$mark" ] ||
    fail "the package selvo is installed here: this test would replace its shop database (purge it first)"
  echo "-- removing the packages an interrupted run of this test left"
  # shellcheck disable=SC2046 # one word a package
  apt-get purge -y -qq $(dpkg-query -W -f='${binary:Package}\n' 'selvo*' 2>/dev/null) >/dev/null
fi
rm -f "$mark"

echo "-- building the packages in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_TESTING=OFF -DSELVO_BENCH=OFF -DSELVO_MANPAGES=ON >/dev/null
ninja -C "$build"
rm -f "$build"/selvo*.deb
(cd "$build" && cpack -G DEB >/dev/null)
version=$(sed -n 's/^project(selvopayments VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=$build/selvo_${version}_amd64.deb
dev=$build/selvo-dev_${version}_amd64.deb
[ -f "$deb" ] && [ -f "$dev" ] || fail "no $deb and $dev: $(ls "$build"/*.deb 2>/dev/null)"

echo "-- what the package holds"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libpq5 libsqlite3-0 libqt6widgets6 libc6; do
  [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library (found from the binaries)"
done
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/selvo-host ./usr/lib/x86_64-linux-gnu/libselvopayments.so.7 \
  ./usr/lib/systemd/system/selvo-till.service ./etc/default/selvo-till ./etc/logrotate.d/selvo \
  ./usr/share/man/man1/selvo-host.1.gz ./usr/share/man/man1/selvo-host-serve.1.gz \
  ./usr/libexec/selvo/selvo-till-signal ./usr/share/doc/selvo/openapi.json; do
  grep -q " $path\( \|$\)" <<<"$contents" || fail "the package lacks $path"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/default/selvo-till ||
  fail "/etc/default/selvo-till is not a conffile"

echo "-- the unit's exposure"
unpacked=$(mktemp -d)
serve_pid="" reader_pid=""
cleanup() {
  rm -rf "$unpacked" /etc/systemd/system/selvo-till.service.d/test-package.conf
  [ -z "$serve_pid" ] || kill "$serve_pid" 2>/dev/null || true
  [ -z "$reader_pid" ] || kill "$reader_pid" 2>/dev/null || true
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$unpacked"
unit=$unpacked/usr/lib/systemd/system/selvo-till.service
grep -q '^ExecStart=/usr/bin/selvo-host serve ' "$unit" || fail "the unit does not start /usr/bin/selvo-host"
exposure=$(systemd-analyze security --offline=true --root="$unpacked" "$unit" 2>&1 |
  sed -n 's/.*Overall exposure level for selvo-till.service: \([0-9.]*\) .*/\1/p')
echo "exposure: $exposure"
[ -n "$exposure" ] || fail "systemd-analyze gave no exposure figure"
awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' || fail "exposure $exposure is above 2.0"

echo "-- apt-get install"
touch "$mark"
apt-get install -y -qq "./$deb" "./$dev" >/dev/null
getent passwd selvo >/dev/null || fail "no user selvo"
for folder in /var/lib/selvo /var/log/selvo; do
  [ "$(stat -c %U "$folder")" = selvo ] || fail "$folder is not the user selvo's"
done
[ "$(command -v selvo-host)" = /usr/bin/selvo-host ] || fail "selvo-host is not /usr/bin/selvo-host"
selvo-host --version | grep -qx "selvo-host $version" || fail "selvo-host --version"
pkg-config --modversion selvopayments | grep -qx "$version" || fail "pkg-config selvopayments"
zcat /usr/share/man/man1/selvo-host-serve.1.gz | grep -q 'SELVO_TOKEN_FILE' || fail "the serve page lacks its environment"

echo "-- init, calc and serve as the user selvo"
as_selvo() { runuser -u selvo -- env WINDIR=/etc/selvo "$@"; }
rm -f /var/lib/selvo/shop.db /var/log/selvo/*.journal
as_selvo selvo-host init --db /var/lib/selvo/shop.db
as_selvo selvo-host payments --db /var/lib/selvo/shop.db | grep -q . || fail "no payment types"
as_selvo selvo-host calc --db /var/lib/selvo/shop.db "$root/examples/sale.json" | tee /dev/stderr | grep -q . ||
  fail "calc printed nothing"

set -a
# shellcheck disable=SC1091
. /etc/default/selvo-till
set +a
if [ -d /run/systemd/system ]; then
  # systemd runs the unit, on the test's port.
  mkdir -p /etc/systemd/system/selvo-till.service.d
  printf '[Service]\nEnvironment=SELVO_LISTEN=127.0.0.1:%s\n' "$port" \
    >/etc/systemd/system/selvo-till.service.d/test-package.conf
  systemctl daemon-reload
  systemctl start selvo-till.service
else
  # The unit's command line, with the options file's values.
  as_selvo selvo-host serve --db "$SELVO_DB" --listen "127.0.0.1:$port" --journal "$SELVO_JOURNAL" \
    $SELVO_OPTIONS 2>/tmp/selvo-package-serve.log &
  serve_pid=$!
fi
for _ in $(seq 1 150); do
  curl -sf "http://127.0.0.1:$port/health" >/dev/null && break
  sleep 0.2
done
sale() { curl -sf -H 'Content-Type: application/json' --data-binary @"$root/examples/sale.json" \
  "http://127.0.0.1:$port/calc"; }
answer=$(sale) || fail "no answer to /calc: $(cat /tmp/selvo-package-serve.log)"
echo "calc: $answer"
grep -q '"sale_id"' <<<"$answer" || fail "the answer has no sale_id"
[ "$(wc -l <"$SELVO_JOURNAL")" -eq 1 ] || fail "the journal does not hold the sale"

echo "-- logrotate moves the journal and the service reopens it"
# Another selvo-host of the user selvo, which SIGHUP would end: the signal
# is the service's alone.
sleep 600 | as_selvo selvo-host calc --db /var/lib/selvo/shop.db - >/dev/null &
reader_pid=$!
for _ in $(seq 1 50); do pgrep -u selvo -f 'selvo-host calc' >/dev/null && break; sleep 0.1; done
logrotate --force /etc/logrotate.d/selvo
pgrep -u selvo -f 'selvo-host calc' >/dev/null || fail "the rotation's signal ended another selvo-host"
pkill -f 'sleep 600' || true
rotated=$(find /var/log/selvo -name 'till-*.journal' | head -1)
[ -n "$rotated" ] || fail "logrotate moved no journal: $(ls -l /var/log/selvo)"
sale >/dev/null || fail "no answer after the rotation"
[ "$(wc -l <"$rotated")" -eq 1 ] && [ "$(wc -l <"$SELVO_JOURNAL")" -eq 1 ] ||
  fail "after SIGHUP the sale went to the old journal: $(wc -l /var/log/selvo/*)"
sale_id=$(python3 -c 'import json, sys; print(json.load(sys.stdin)["sale_id"])' <<<"$answer")
as_selvo selvo-host receipt --db /var/lib/selvo/shop.db --journal /var/log/selvo "$sale_id" >/dev/null ||
  fail "receipt does not find the sale in the rotated journal"

echo "-- apt-get remove"
apt-get remove -y -qq selvo selvo-dev >/dev/null
if pgrep -u selvo -f 'selvo-host serve' >/dev/null; then fail "the service still runs after remove"; fi
[ ! -e /usr/bin/selvo-host ] || fail "/usr/bin/selvo-host is left"
[ -f /var/lib/selvo/shop.db ] || fail "remove took the shop's database"
[ -f "$rotated" ] || fail "remove took the sales journals"
apt-get purge -y -qq selvo >/dev/null
[ -f /var/lib/selvo/shop.db ] || fail "purge took the shop's database"
rm -f "$mark"
echo "test-package: passed (exposure $exposure)"
