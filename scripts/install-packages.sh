#!/usr/bin/env bash
# Installs the Debian packages given on the command line when they are missing,
# quietly. Packages with ":i386" need the i386 architecture, added on demand.
set -euo pipefail
# One installer at a time: several builds may ask at once.
exec 9>"${TMPDIR:-/tmp}/vane-install-packages.lock"
flock 9
missing=()
for pkg in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  if ! dpkg --print-foreign-architectures | grep -q '^i386$'; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
fi
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
