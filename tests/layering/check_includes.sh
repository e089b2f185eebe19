#!/bin/sh
# The layers' include rules: the portable core reaches the system only through
# its ports, never a backend, the emulated target or a program; the real Linux
# backend stands on the core alone. Prints each include (or link) that breaks
# a rule.
# Usage: check_includes.sh SOURCE_DIR
set -u
cd "$1" || exit 2
broken=0

# forbid PATTERN ALLOWED DIRS...: no file under DIRS includes a header matching
# PATTERN, unless it also matches ALLOWED ("-": no exception).
forbid() {
    pattern=$1
    allowed=$2
    shift 2
    found=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]($pattern)" "$@" 2>/dev/null |
            { if [ "$allowed" = - ]; then cat; else grep -vE "[\"<]($allowed)"; fi; })
    if [ -n "$found" ]; then
        printf '%s\n' "$found"
        broken=1
    fi
}

# The core and its ports: no backend, no emulated target, no program.
forbid 'platform/|emulator/|programs/' - \
    device firmware operations app controls framework records ports resources
# No backend reaches into the dialog.
forbid 'app/' - platform
# The Linux backend: nothing of the emulated target.
forbid 'emulator/' - platform/linux
# ... nor does its library link it.
if grep -nE 'target_link_libraries\(vane_linux[[:space:]][^)]*vane_emulator' CMakeLists.txt cmake/*.cmake; then
    broken=1
fi

if [ "$broken" -ne 0 ]; then
    echo "FAIL: the layers are crossed above"
    exit 1
fi
echo "PASS: include rules hold"
