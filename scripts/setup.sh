#!/usr/bin/env bash
# Installs the Debian packages the build needs (when missing, as root).
set -euo pipefail
packages=(cmake ninja-build g++ gcc-multilib g++-multilib clang libclang-rt-14-dev
          qt6-base-dev libsqlite3-dev sqlite3 libgtest-dev libgmock-dev libbenchmark-dev
          nlohmann-json3-dev libsimdjson-dev valgrind binutils clang-format pkg-config libxcb1-dev xvfb xdotool
          postgresql libpq-dev qt6-translations-l10n libcpp-httplib-dev libboost-dev
          help2man logrotate curl systemd procps python3 python3-jsonschema
          dpkg-dev debootstrap systemd-container)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root, or install them)" >&2
    exit 1
  fi
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # The tests start servers of their own; the package's default one is not needed.
  mkdir -p /etc/postgresql-common/createcluster.d
  echo "create_main_cluster = false" >/etc/postgresql-common/createcluster.d/selvo-tests.conf
  # A job cut off mid-install leaves dpkg half done, and apt then refuses.
  dpkg --configure -a
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
