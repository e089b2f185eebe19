#!/usr/bin/env bash
# Runs a command beside a private PostgreSQL server: a fresh cluster in a
# temporary folder, reached through a Unix socket only (no TCP port), stopped
# and removed when the command ends. The command finds the database in
# VANE_TEST_POSTGRES_URI and the socket folder in VANE_TEST_POSTGRES_DIR.
# The server refuses to run as root: as root it runs as the postgres user.
set -uo pipefail
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -n "$bin" ] && [ -x "$bin/initdb" ] || { echo "FAIL: the postgresql package is not installed"; exit 1; }

dir=$(mktemp -d /tmp/vane-pg-XXXXXX)
as_server=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres: "$dir"
  as_server=(runuser -u postgres --)
fi
chmod 700 "$dir"
stop() {
  "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1
  rm -rf "$dir"
}
trap stop EXIT

user=$(id -un)
[ "$(id -u)" -eq 0 ] && user=postgres
"${as_server[@]}" "$bin/initdb" -D "$dir/data" -A trust -U "$user" >"$dir/initdb.log" 2>&1 ||
  { cat "$dir/initdb.log"; echo "FAIL: initdb"; exit 1; }
"${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
  -o "-k $dir -c listen_addresses='' -c fsync=off" start >/dev/null ||
  { cat "$dir/server.log"; echo "FAIL: the server did not start"; exit 1; }
"${as_server[@]}" "$bin/createdb" -h "$dir" -U "$user" vane_records || { echo "FAIL: createdb"; exit 1; }

export VANE_TEST_POSTGRES_URI="postgresql:///vane_records?host=$dir&user=$user"
export VANE_TEST_POSTGRES_DIR="$dir"
export VANE_TEST_POSTGRES_USER="$user"
export VANE_TEST_POSTGRES_BIN="$bin"
"$@"
