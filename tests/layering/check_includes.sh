#!/bin/sh
# The layers' include rules: the portable core reaches the system only through
# its ports, never a backend, the emulated target or a program; the real Linux
# backend stands on the core alone; the console program's layers look only
# downwards. Prints each include (or link) that breaks
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
# Backends and ports serve every program: none reaches into one.
forbid 'programs/' - platform ports records
# The console program's layers include only the layers below them: http (the
# server, which knows no page), cli (the parsed request), output (events and
# their renderings), web (the pages), station, then the program root with its
# machine link. Its root headers sit directly in programs/vane_upgrade/; the
# version header is generated there for the options.
root='programs/vane_upgrade/[A-Za-z0-9_]+\.h'
forbid "programs/|app/|platform/" "programs/vane_upgrade/http/" programs/vane_upgrade/http
forbid "programs/vane_upgrade/(output|web|station|machine)/|$root" 'programs/vane_upgrade/program_version\.h' \
    programs/vane_upgrade/cli
forbid "programs/vane_upgrade/(web|station|machine)/|$root" - programs/vane_upgrade/output
forbid "programs/vane_upgrade/(station|machine)/|$root" - programs/vane_upgrade/web
forbid "programs/vane_upgrade/machine/|$root" - programs/vane_upgrade/station
# The pages only show what the station tells them: no dialog, no device.
forbid 'app/|platform/|device/' - programs/vane_upgrade/web
# The station supervises runs of the program: it never holds a dialog.
forbid 'app/|platform/headless/' - programs/vane_upgrade/station
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
