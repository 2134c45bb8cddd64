#!/usr/bin/env bash
# A throw-away PostgreSQL server for the tests.
#
#   pg_server.sh start DIR   initialises a cluster and starts it, reachable only
#                            through a unix socket; writes DIR/conninfo (libpq
#                            key=value form) and DIR/uri (postgresql:// form) for
#                            the database selvo_test, whose superuser "selvo"
#                            logs in without a password.
#   pg_server.sh stop DIR    stops that server at once and removes DIR.
#   pg_server.sh crash DIR   stops it at once (as a power cut would), keeping
#                            its data.
#   pg_server.sh restart DIR starts a crashed one again, on the same socket.
#
# With PG_SERVER_LOGICAL=1 in the environment, start makes a server that can
# publish and subscribe by logical replication (wal_level = logical).
#
# A second role, selvo_pw, must give its password (DIR/pw_password), so that
# tests can check a refused login. When run as root the server runs as the
# system user selvo-pg (created when missing), since the server refuses root.
# A DIR left behind by an interrupted run is stopped and cleared by start.
set -euo pipefail

readonly DB_NAME=selvo_test
readonly SUPERUSER=selvo
readonly PW_ROLE=selvo_pw
readonly PW_PASSWORD=selvo_pw_secret
readonly RUN_USER=selvo-pg
# A unix socket path is limited to 107 bytes; ".s.PGSQL.NNNNN" takes 15.
readonly MAX_SOCKET_DIR=90

die() {
  echo "pg_server: $*" >&2
  exit 1
}

find_bindir() {
  local d best=""
  for d in /usr/lib/postgresql/*/bin; do
    if [ ! -x "$d/initdb" ] || [ ! -x "$d/pg_ctl" ] || [ ! -x "$d/postgres" ]; then continue; fi
    if [ -z "$best" ] || [ "$(basename "$(dirname "$d")")" -gt "$(basename "$(dirname "$best")")" ] 2>/dev/null; then
      best=$d
    fi
  done
  [ -n "$best" ] || {
    echo "PostgreSQL server binaries not found: install the postgresql package" >&2
    exit 1
  }
  echo "$best"
}

# Runs a command as the server's user (root may not run the server).
as_server_user() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u "$RUN_USER" -- "$@"
  else
    "$@"
  fi
}

ensure_server_user() {
  [ "$(id -u)" -eq 0 ] || return 0
  id "$RUN_USER" >/dev/null 2>&1 && return 0
  useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$RUN_USER" ||
    id "$RUN_USER" >/dev/null 2>&1 || die "cannot create the system user $RUN_USER"
}

# The folder that holds the cluster, the socket and the log: DIR itself when
# the server's user can reach it, the socket path fits and needs no quoting in
# a connection string, otherwise a fresh folder under /tmp whose name is kept
# in DIR/rundir.
choose_rundir() {
  local dir=$1
  local reachable=yes
  if [ "$(id -u)" -eq 0 ]; then
    chown "$RUN_USER": "$dir"
    runuser -u "$RUN_USER" -- test -w "$dir" || reachable=no
  fi
  if [ "$reachable" = yes ] && [ "${#dir}" -le "$MAX_SOCKET_DIR" ] && [[ "$dir" =~ ^[A-Za-z0-9._/+-]+$ ]]; then
    echo "$dir"
  else
    local run
    run=$(mktemp -d /tmp/selvo-pg.XXXXXX)
    [ "$(id -u)" -ne 0 ] || chown "$RUN_USER": "$run"
    echo "$run" >"$dir/rundir"
    echo "$run"
  fi
}

rundir_of() {
  local dir=$1
  if [ -f "$dir/rundir" ]; then cat "$dir/rundir"; else echo "$dir"; fi
}

# A folder that was not made here is left alone rather than emptied.
check_ours() {
  local dir=$1
  if [ -d "$dir" ] && [ -n "$(ls -A -- "$dir")" ] && [ ! -e "$dir/data" ] && [ ! -e "$dir/rundir" ] &&
    [ ! -e "$dir/initdb.log" ]; then
    die "$dir is not a test server's folder; not removing it"
  fi
}

# Stops a server left in DIR (if any) and removes DIR with its run folder.
cleanup() {
  local dir=$1 bindir=${2:-}
  [ -e "$dir" ] || return 0
  local run
  run=$(rundir_of "$dir")
  local pidfile="$run/data/postmaster.pid"
  if [ -f "$pidfile" ]; then
    if [ -n "$bindir" ] && [ -x "$bindir/pg_ctl" ]; then
      as_server_user "$bindir/pg_ctl" stop -D "$run/data" -m immediate -w -t 30 >/dev/null 2>&1 || true
    fi
    # pg_ctl missing or failed: end the postmaster by its recorded id.
    if [ -f "$pidfile" ]; then
      local pid
      pid=$(head -n 1 "$pidfile" 2>/dev/null || true)
      if [[ "$pid" =~ ^[0-9]+$ ]] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = postgres ]; then
        kill -QUIT "$pid" 2>/dev/null || true
        for _ in $(seq 50); do
          [ -e "/proc/$pid" ] || break
          sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
      fi
    fi
  fi
  # Only a run folder this script made is removed besides DIR.
  case "$run" in /tmp/selvo-pg.*) rm -rf -- "$run" ;; esac
  rm -rf -- "$dir"
}

# Percent-encodes every byte outside the unreserved set, for the URI's host.
uri_encode() {
  local s=$1 out="" c i
  local LC_ALL=C
  for ((i = 0; i < ${#s}; i++)); do
    c=${s:i:1}
    case "$c" in
      [A-Za-z0-9._~-]) out+=$c ;;
      *) out+=$(printf '%%%02X' "'$c") ;;
    esac
  done
  echo "$out"
}

start() {
  local dir=$1 bindir
  bindir=$(find_bindir)
  ensure_server_user
  mkdir -p -- "$(dirname -- "$dir")"
  dir=$(cd -- "$(dirname -- "$dir")" && pwd)/$(basename -- "$dir")
  check_ours "$dir"
  cleanup "$dir" "$bindir"
  mkdir -m 0755 -- "$dir"

  local run
  run=$(choose_rundir "$dir")
  cd "$run"
  as_server_user "$bindir/initdb" -D "$run/data" -U "$SUPERUSER" --no-sync --no-locale -E UTF8 \
    --auth-local=trust --auth-host=reject >"$run/initdb.log" 2>&1 ||
    die "initdb failed: $(tail -n 3 "$run/initdb.log" | tr '\n' ' ')"

  # Only the socket; the password role is checked before the trusted rest.
  as_server_user tee "$run/data/pg_hba.conf" >/dev/null <<EOF
local all $PW_ROLE scram-sha-256
local all all trust
EOF
  as_server_user tee -a "$run/data/postgresql.conf" >/dev/null <<EOF
listen_addresses = ''
unix_socket_directories = '$run'
unix_socket_permissions = 0777
fsync = off
synchronous_commit = off
full_page_writes = off
shared_buffers = 16MB
max_connections = 40
password_encryption = 'scram-sha-256'
log_min_messages = warning
EOF
  if [ "${PG_SERVER_LOGICAL:-0}" = 1 ]; then
    as_server_user tee -a "$run/data/postgresql.conf" >/dev/null <<EOF
wal_level = logical
max_replication_slots = 16
max_wal_senders = 16
max_logical_replication_workers = 8
max_worker_processes = 16
wal_retrieve_retry_interval = 200ms
EOF
  fi

  # Any port serves: the socket lives in a folder of its own. A random one
  # keeps the shared-memory key apart from other servers on the machine; a
  # clash is retried with another.
  local port=""
  for _ in 1 2 3 4 5; do
    local p=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    [ -e "$run/.s.PGSQL.$p" ] && continue
    if as_server_user "$bindir/pg_ctl" start -D "$run/data" -l "$run/server.log" -w -t 60 \
      -o "-p $p" >/dev/null 2>&1; then
      port=$p
      break
    fi
  done
  [ -n "$port" ] || die "the server did not start: $(tail -n 3 "$run/server.log" 2>/dev/null | tr '\n' ' ')"

  local psql=("$bindir/psql" -X -q -v ON_ERROR_STOP=1 -h "$run" -p "$port" -U "$SUPERUSER" -d postgres)
  "${psql[@]}" -c "CREATE DATABASE $DB_NAME" >/dev/null ||
    die "cannot create the database $DB_NAME"
  "${psql[@]}" -c "CREATE ROLE $PW_ROLE LOGIN PASSWORD '$PW_PASSWORD'" >/dev/null ||
    die "cannot create the role $PW_ROLE"

  echo "host=$run port=$port dbname=$DB_NAME user=$SUPERUSER" >"$dir/conninfo.tmp"
  echo "postgresql://$SUPERUSER@$(uri_encode "$run"):$port/$DB_NAME" >"$dir/uri"
  echo "host=$run port=$port dbname=$DB_NAME user=$PW_ROLE" >"$dir/pw_conninfo"
  echo "$PW_PASSWORD" >"$dir/pw_password"
  echo "$port" >"$dir/port"
  # conninfo last: its presence means the server is ready.
  mv -- "$dir/conninfo.tmp" "$dir/conninfo"
}

stop() {
  local dir=$1 bindir=""
  [ -e "$dir" ] || return 0
  check_ours "$dir"
  bindir=$(find_bindir 2>/dev/null) || bindir=""
  cleanup "$dir" "$bindir"
}

crash() {
  local dir=$1 bindir run
  bindir=$(find_bindir)
  run=$(rundir_of "$dir")
  as_server_user "$bindir/pg_ctl" stop -D "$run/data" -m immediate -w -t 30 >/dev/null
}

restart() {
  local dir=$1 bindir run
  bindir=$(find_bindir)
  run=$(rundir_of "$dir")
  as_server_user "$bindir/pg_ctl" start -D "$run/data" -l "$run/server.log" -w -t 60 \
    -o "-p $(cat "$dir/port")" >/dev/null
}

usage="usage: pg_server.sh start|stop|crash|restart DIR"
[ $# -eq 2 ] || die "$usage"
case "$1" in
  start) start "$2" ;;
  stop) stop "$2" ;;
  crash) crash "$2" ;;
  restart) restart "$2" ;;
  *) die "$usage" ;;
esac
