#!/bin/bash
# The Windows programs under Wine, on a virtual X display: builds the win64
# preset (and win32 when Wine can run 32-bit programs), then drives the
# dialog with gui_driver.exe through the scenarios below.
#
#   tests/wine/run_wine_tests.sh [--no-build]
#
# Exit status: 0 all scenarios passed, 1 a scenario failed or a build broke,
# 77 Wine or Xvfb is missing (the test is skipped).
# A screenshot of the running window is left in build/<preset>/wine-screenshot.png.
set -u

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=1
[ "${1:-}" = "--no-build" ] && BUILD=0

find_tool() { # first of the names that exists
    for candidate in "$@"; do
        if command -v "$candidate" >/dev/null 2>&1; then command -v "$candidate"; return 0; fi
        if [ -x "$candidate" ]; then echo "$candidate"; return 0; fi
    done
    return 1
}

WINE64=$(find_tool wine64 /usr/lib/wine/wine64) || { echo "wine64 is not installed: skipped"; exit 77; }
WINE32=$(find_tool /usr/lib/wine/wine wine) || WINE32=""
# The 32-bit loader needs wine32:i386 and a kernel that runs 32-bit programs.
if [ -n "$WINE32" ] && ! "$WINE32" --version >/dev/null 2>&1; then
    echo "32-bit Wine does not run on this machine: the win32 programs are built but not run"
    WINE32=""
fi
WINESERVER=$(find_tool wineserver /usr/lib/wine/wineserver) || WINESERVER=""
command -v Xvfb >/dev/null 2>&1 || { echo "Xvfb is not installed: skipped"; exit 77; }

BUILT="win64"
command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 && BUILT="win64 win32"
PRESETS="win64"
[ -n "$WINE32" ] && PRESETS="win64 win32"

if [ "$BUILD" = 1 ]; then
    for preset in $BUILT; do
        echo "== building $preset"
        (cd "$ROOT" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j"$(nproc)") ||
            { echo "FAIL: the $preset build broke"; exit 1; }
    done
fi

# --- the virtual display and the Wine prefix ---

DISPLAY_NUMBER=""
for n in $(seq 91 160); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then DISPLAY_NUMBER=$n; break; fi
done
[ -n "$DISPLAY_NUMBER" ] || { echo "FAIL: no free X display"; exit 1; }

export WINEPREFIX="$ROOT/build/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=":$DISPLAY_NUMBER"
XVFB_PID=""
SIGNALS=$(mktemp -d)

cleanup() {
    [ -n "$WINESERVER" ] && "$WINESERVER" -k >/dev/null 2>&1
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" >/dev/null 2>&1 && wait "$XVFB_PID" 2>/dev/null
    rm -rf "$SIGNALS"
}
trap cleanup EXIT

Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
XVFB_PID=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] || { echo "FAIL: Xvfb did not start"; exit 1; }

mkdir -p "$ROOT/build"
# Made once (that takes a while), then reused by every run.
if [ ! -d "$WINEPREFIX" ]; then
    echo "== making the Wine prefix $WINEPREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1
fi

# --- scenarios ---

FAILURES=0
windows_path() { local p=${1//\//\\}; echo "Z:$p"; }

# scenario NAME PRESET PROGRAM STEP... : one run of gui_driver in the preset's build folder.
scenario() {
    local name=$1 preset=$2 program=$3
    shift 3
    local loader=$WINE64
    [ "$preset" = win32 ] && loader=$WINE32
    local log="$ROOT/build/$preset/wine-$name.log"
    if (cd "$ROOT/build/$preset" && timeout 300 "$loader" ./gui_driver.exe "$program" "$@" >"$log" 2>&1); then
        echo "PASS: $preset $name"
    else
        echo "FAIL: $preset $name (log: $log)"
        grep '^gui_driver' "$log"
        FAILURES=$((FAILURES + 1))
        return 1
    fi
}

# screenshot NAME PRESET PROGRAM STEPS... : as scenario; when the steps reach
# the word SHOT the display is saved as build/<preset>/wine-screenshot.png.
screenshot() {
    local name=$1 preset=$2 program=$3
    shift 3
    local ready="$SIGNALS/$preset-ready" taken="$SIGNALS/$preset-taken"
    local steps=()
    for word in "$@"; do
        if [ "$word" = SHOT ]; then
            steps+=(signal "$(windows_path "$ready")" await "$(windows_path "$taken")" 30)
        else
            steps+=("$word")
        fi
    done
    scenario "$name" "$preset" "$program" "${steps[@]}" &
    local driver=$!
    for _ in $(seq 1200); do
        [ -e "$ready" ] && break
        kill -0 "$driver" 2>/dev/null || break
        sleep 0.1
    done
    if [ -e "$ready" ]; then
        sleep 0.5 # let the window finish painting
        xwd -root -silent | convert xwd:- -trim +repage "png:$ROOT/build/$preset/wine-screenshot.png" &&
            echo "     screenshot: build/$preset/wine-screenshot.png"
        touch "$taken"
    fi
    wait "$driver" || FAILURES=$((FAILURES + 1))
}

STARTUP=(expect 1019 "Mirra Vane Transmitter " expect 1029 Upgrade expect-visible 1030 0)

for preset in $PRESETS; do
    # The real link finds no device here: start-up texts, Return keeps the dialog, Escape ends it.
    scenario startup-real "$preset" RODEdiz.exe "${STARTUP[@]}" expect 1078 "Current version: Unknown" \
        key return still-open 2 no-box 1 key escape expect-exit 20
    # The emulated target connects and shows its version.
    screenshot startup-emulated "$preset" RODEdiz-emulated.exe "${STARTUP[@]}" wait 1001 Connected 30 \
        wait-contains 1078 "Current version:Vane_TX_V1020" 10 SHOT key escape expect-exit 20
done

echo "== $FAILURES scenario(s) failed"
[ "$FAILURES" = 0 ]
