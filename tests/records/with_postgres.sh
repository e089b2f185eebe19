#!/usr/bin/env bash
# Runs a command beside a private PostgreSQL server: a fresh cluster in a
# temporary folder, reached through a Unix socket only (no TCP port), stopped
# and removed when the command ends. The command finds the database in
# VANE_TEST_POSTGRES_URI (socket folder VANE_TEST_POSTGRES_DIR, user
# VANE_TEST_POSTGRES_USER) and may call pg_server_stop and pg_server_start.
# The server refuses to run as root: as root it runs as the postgres user.
set -uo pipefail
pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -n "$pg_bin" ] && [ -x "$pg_bin/initdb" ] || { echo "FAIL: the postgresql package is not installed"; exit 1; }

pg_dir=$(mktemp -d /tmp/vane-pg-XXXXXX)
pg_as=""
pg_user=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
  chown postgres: "$pg_dir"
  pg_as="runuser -u postgres --"
  pg_user=postgres
fi
chmod 700 "$pg_dir"
export pg_bin pg_dir pg_as

# From / : the server's user may not enter the caller's folder.
pg_server_start() {
  (cd / && $pg_as "$pg_bin/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/server.log" -w \
    -o "-k $pg_dir -c listen_addresses='' -c fsync=off" start >/dev/null)
}
pg_server_stop() { (cd / && $pg_as "$pg_bin/pg_ctl" -D "$pg_dir/data" -m immediate -w stop >/dev/null 2>&1); }
export -f pg_server_start pg_server_stop
cleanup() {
  pg_server_stop
  rm -rf "$pg_dir"
}
trap cleanup EXIT

$pg_as "$pg_bin/initdb" -D "$pg_dir/data" -A trust -U "$pg_user" >"$pg_dir/initdb.log" 2>&1 ||
  { cat "$pg_dir/initdb.log"; echo "FAIL: initdb"; exit 1; }
pg_server_start || { cat "$pg_dir/server.log"; echo "FAIL: the server did not start"; exit 1; }
$pg_as "$pg_bin/createdb" -h "$pg_dir" -U "$pg_user" vane_records || { echo "FAIL: createdb"; exit 1; }

export VANE_TEST_POSTGRES_URI="postgresql:///vane_records?host=$pg_dir&user=$pg_user"
export VANE_TEST_POSTGRES_DIR="$pg_dir"
export VANE_TEST_POSTGRES_USER="$pg_user"
"$@"
