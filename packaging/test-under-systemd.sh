#!/usr/bin/env bash
# test-under-systemd.sh DEB: the till service as systemd runs it, confined.
# Boots the fresh minimal Debian of test-fresh-machine.sh in a container
# (systemd-nspawn) with the package installed and the unit enabled; a check
# unit there asks for a sale, rotates the journal with the package's rule
# (which reloads the service), kills the service to see it restarted, and
# writes what it found before the container powers off. Needs root, systemd-nspawn and that fresh Debian.
set -euo pipefail
deb=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
fresh=${FRESH_ROOT:-/var/tmp/selvo-fresh}
[ -x "$fresh/usr/bin/apt-get" ] || { echo "no fresh Debian in $fresh: run test-fresh-machine.sh first" >&2; exit 1; }
command -v systemd-nspawn >/dev/null || apt-get install -y -qq systemd-container >/dev/null

cp "$deb" "$fresh/tmp/"
# The container mounts a fresh /tmp at boot.
cp "$root/examples/sale.json" "$fresh/root/"
mount -t proc proc "$fresh/proc"
trap 'umount "$fresh/proc" 2>/dev/null || true' EXIT
in_fresh() { chroot "$fresh" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }
in_fresh apt-get install -y -qq curl systemd logrotate "/tmp/$(basename "$deb")" >/dev/null
rm -f "$fresh/var/lib/selvo/shop.db" "$fresh"/var/log/selvo/*.journal "$fresh/root/check.out"
in_fresh runuser -u selvo -- selvo-host init --db /var/lib/selvo/shop.db >/dev/null
umount "$fresh/proc"
chroot "$fresh" systemctl enable selvo-till.service >/dev/null 2>&1

cat >"$fresh/usr/local/bin/selvo-check" <<'CHECK'
#!/bin/sh
# Runs at the container's boot after selvo-till.service.
exec >/root/check.out 2>&1
sale() { curl -sS --fail-with-body -H 'Content-Type: application/json' --data-binary @/root/sale.json http://127.0.0.1:8750/calc; }
for i in $(seq 1 100); do curl -sSf http://127.0.0.1:8750/health >/dev/null && break; sleep 0.1; done
sale && echo && echo "sale: ok"
[ "$(wc -l </var/log/selvo/till.journal)" -eq 1 ] && echo "journal: ok"
# The package's logrotate rule, which reloads the service.
logrotate --force /etc/logrotate.d/selvo
moved=$(ls /var/log/selvo/till-*.journal)
sale >/dev/null && [ "$(wc -l </var/log/selvo/till.journal)" -eq 1 ] &&
  [ "$(wc -l <"$moved")" -eq 1 ] && echo "reload: ok"
pid=$(systemctl show -p MainPID --value selvo-till.service)
kill -9 "$pid"
for i in $(seq 1 100); do
  now=$(systemctl show -p MainPID --value selvo-till.service)
  [ "$now" != 0 ] && [ "$now" != "$pid" ] && curl -sSf http://127.0.0.1:8750/health >/dev/null && break
  sleep 0.1
done
[ "$now" != "$pid" ] && sale >/dev/null && echo "restart: ok"
echo "user: $(ps -o user= -p "$now")"
# Removing the package stops the service and keeps the shop's data.
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq selvo >/dev/null 2>&1
! systemctl is-active --quiet selvo-till.service && ! pgrep -f 'selvo-host serve' >/dev/null && echo "remove: stopped"
[ -f /var/lib/selvo/shop.db ] && [ -f "$moved" ] && echo "remove: data kept"
journalctl -u selvo-till.service --no-pager | tail -20
systemctl poweroff
CHECK
chmod +x "$fresh/usr/local/bin/selvo-check"
cat >"$fresh/etc/systemd/system/selvo-check.service" <<'UNIT'
[Unit]
After=selvo-till.service
Wants=selvo-till.service
[Service]
Type=oneshot
ExecStart=/usr/local/bin/selvo-check
[Install]
WantedBy=multi-user.target
UNIT
chroot "$fresh" systemctl enable selvo-check.service >/dev/null 2>&1

# A network of its own: nothing of this machine's on port 8750 answers.
timeout 180 systemd-nspawn -q --register=no --keep-unit --private-network -D "$fresh" -b \
  >/tmp/selvo-nspawn.log 2>&1 || true
chroot "$fresh" systemctl disable selvo-check.service selvo-till.service >/dev/null 2>&1 || true
cat "$fresh/root/check.out"
for step in "sale: ok" "journal: ok" "reload: ok" "restart: ok" "user: selvo" "remove: stopped" "remove: data kept"; do
  if ! grep -qx "$step" "$fresh/root/check.out"; then
    tail -40 /tmp/selvo-nspawn.log >&2
    echo "test-under-systemd: no \"$step\"" >&2
    exit 1
  fi
done
echo "test-under-systemd: passed"
