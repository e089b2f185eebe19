#!/usr/bin/env bash
# Builds everything and runs every test: the native suite (AddressSanitizer and
# UndefinedBehaviorSanitizer), the Linux front end, the MinGW builds under Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-packages.sh" build-essential cmake pkg-config googletest libgtest-dev libgmock-dev \
  libudev-dev libcli11-dev nlohmann-json3-dev jq umockdev libumockdev-dev \
  libsqlite3-dev sqlite3 libpq-dev nettle-dev postgresql \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
  wine64 wine32:i386 xvfb x11-apps imagemagick clang libclang-rt-14-dev \
  dpkg-dev lintian scdoc bash-completion libboost-dev chromium chromium-driver python3-selenium \
  qt6-base-dev libxkbcommon-dev fonts-liberation2 desktop-file-utils appstream xdotool x11-utils
cmake --preset native -S "$here" >/dev/null
cmake --build "$here/build/native" -j"$(nproc)"
cd "$here/build/native"
ctest --output-on-failure -j"$(nproc)" --timeout 900 "$@"
