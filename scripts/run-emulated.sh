#!/usr/bin/env bash
# Builds the console program and runs the tool's main job, a firmware upgrade,
# on the emulated target (no device needed). Extra arguments go to vane-upgrade.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-packages.sh" build-essential cmake pkg-config libudev-dev libcli11-dev \
  libsqlite3-dev libpq-dev nettle-dev nlohmann-json3-dev libboost-dev
cmake --preset release -S "$here" >/dev/null
cmake --build "$here/build/release" -j"$(nproc)" --target vane-upgrade make_demo_images >/dev/null
work="$here/build/release/demo"
mkdir -p "$work"
cd "$work"
[ -f Data/Vane_TX_V1030.fir ] || "$here/build/release/make_demo_images" Data
exec "$here/build/release/vane-upgrade" --emulate "${@:-upgrade}"
