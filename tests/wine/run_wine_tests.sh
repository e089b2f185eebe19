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

# Wine's comctl32 is always version 6 and themes its controls; Windows runs
# this program (its manifest selects no version 6) with classic controls. Switch the theme off.
"$WINE64" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' /v ThemeActive /t REG_SZ /d 0 /f \
    >/dev/null 2>&1

# --- scenarios ---

FAILURES=0
windows_path() { local p=${1//\//\\}; echo "Z:$p"; }

# scenario NAME PRESET PROGRAM STEP... : one run of gui_driver in the preset's build folder.
# Wine reports misuse of the heap (a free of a stale or freed pointer, which
# on Windows can corrupt the heap silently): any such warning fails the scenario.
scenario() {
    local name=$1 preset=$2 program=$3
    shift 3
    local loader=$WINE64
    [ "$preset" = win32 ] && loader=$WINE32
    local log="$ROOT/build/$preset/wine-$name.log"
    if (cd "$ROOT/build/$preset" && WINEDEBUG=warn+heap timeout 300 "$loader" ./gui_driver.exe "$program" "$@" >"$log" 2>&1) &&
        ! grep -q ':heap:' "$log"; then
        echo "PASS: $preset $name"
    else
        echo "FAIL: $preset $name (log: $log)"
        grep '^gui_driver\|:heap:' "$log" | head -20
        FAILURES=$((FAILURES + 1))
        return 1
    fi
}

# check NAME PRESET PROGRAM ARG... : a console check program in the preset's build folder.
check() {
    local name=$1 preset=$2
    shift 2
    local loader=$WINE64
    [ "$preset" = win32 ] && loader=$WINE32
    local out
    if out=$(cd "$ROOT/build/$preset" && timeout 120 "$loader" "$@" 2>&1); then
        echo "PASS: $preset $name"
    else
        echo "FAIL: $preset $name: $(echo "$out" | tr -d '\r' | grep -v '^[0-9a-f]*:\(fixme\|err\|warn\)')"
        FAILURES=$((FAILURES + 1))
    fi
}

# screenshot NAME PRESET PROGRAM STEPS... : as scenario; when the steps reach
# the word SHOT the display is saved as build/<preset>/wine-screenshot.png.
screenshot() {
    local name=$1 preset=$2 program=$3
    shift 3
    local ready="$SIGNALS/$preset-$name-ready" taken="$SIGNALS/$preset-$name-taken"
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

# The values the monitor writes are in the registry (the 32-bit program's under the 32-bit view).
check_registry() {
    local view=/reg:64
    [ "$1" = win32 ] && view=/reg:32
    local out
    out=$("$WINE64" reg query 'HKLM\SOFTWARE\Ruzorez Auto-Copy' "$view" 2>/dev/null | tr -d '\r')
    if echo "$out" | grep -q 'vid.*REG_SZ.*0416' && echo "$out" | grep -q 'pid.*REG_SZ.*B190'; then
        echo "PASS: $1 registry values"
    else
        echo "FAIL: $1 registry values: $out"
        FAILURES=$((FAILURES + 1))
    fi
}

# A few pixels of the finished upgrade: the skin's header, blue value texts, the full bar in RGB(0,0,160).
# The header shows only the skin: the identity edit 1075 (239,1 89x12 dialog
# units, about x 478-656 and y 2-24 here) has redrawing off and is not seen, so
# its white box must not be there.
check_pixels() {
    local shot=$1 colours header
    header=$(convert "$shot" -crop 150x14+490+6 +repage -colorspace gray -threshold 90% -format '%[fx:mean]' info: 2>/dev/null)
    if awk -v w="${header:-1}" 'BEGIN { exit !(w < 0.1) }'; then
        echo "PASS: header shows the skin only (white share ${header})"
    else
        echo "FAIL: header: a control is drawn over the skin (white share ${header:-unknown})"
        FAILURES=$((FAILURES + 1))
    fi
    colours=$(convert "$shot" -depth 8 txt:- 2>/dev/null | awk '{print $3}' | sort | uniq -c)
    local bar blue white
    bar=$(echo "$colours" | awk '$2=="#0000A0"{print $1}')
    blue=$(echo "$colours" | awk '$2=="#0000FF"{print $1}')
    white=$(echo "$colours" | awk '$2=="#FFFFFF"{print $1}')
    if [ "${bar:-0}" -gt 1000 ] && [ "${blue:-0}" -gt 50 ] && [ "${white:-0}" -gt 10000 ]; then
        echo "PASS: pixels (bar $bar, blue text $blue, white panels $white)"
    else
        echo "FAIL: pixels (bar ${bar:-0}, blue text ${blue:-0}, white panels ${white:-0})"
        FAILURES=$((FAILURES + 1))
    fi
}

check_dump() {
    local size
    size=$(stat -c %s "$1" 2>/dev/null || echo missing)
    if [ "$size" = 10000 ]; then echo "PASS: dump file of 10000 bytes"; else
        echo "FAIL: dump file: $size"; FAILURES=$((FAILURES + 1)); fi
}

# Controls with redrawing off are hidden to the user as well.
STARTUP=(expect 1019 "Mirra Vane Transmitter " expect 1029 Upgrade expect-visible 1030 0
    expect-visible 1075 0 expect-visible 1017 0 expect-visible 1079 0 expect-visible 1010 0)

# "Find USB Device" lines in the program's diagnostic log.
count_arrivals() {
    local n
    n=$(tr -d '\r' <"$ROOT/build/$1/RODEdiz.log" 2>/dev/null | grep -c '^Find USB Device$')
    if [ "$n" = "$2" ]; then echo "PASS: $1 $2 device arrival(s) seen"; else
        echo "FAIL: $1 device arrivals seen: ${n:-no log}, expected $2"; FAILURES=$((FAILURES + 1)); fi
}

# Every Windows program of every preset built imports only Known DLLs, so no
# library beside it is loaded before it starts (the 64-bit check reads the
# 32-bit programs' headers too, where Wine runs no 32-bit program).
for preset in $BUILT; do
    check "imports-$preset" win64 ./windows_checks.exe imports \
        "../$preset/RODEdiz.exe" "../$preset/RODEdiz-emulated.exe" "../$preset/vane-upgrade.exe"
done

for preset in $PRESETS; do
    # Both programs ask for an administrator (raw volume access, HKEY_LOCAL_MACHINE)
    # and keep the classic controls; a volume refused for lack of rights says so.
    check manifest-real "$preset" ./windows_checks.exe manifest RODEdiz.exe
    check manifest-emulated "$preset" ./windows_checks.exe manifest RODEdiz-emulated.exe
    check volume-rights "$preset" ./windows_checks.exe volume-rights
    # The link through the Windows pass-through on no device: failure, never
    # success, and the system's message as it gives it.
    check ping-nothing "$preset" ./ping_nothing.exe
    # The real link finds no device here: start-up texts, Return keeps the dialog, Escape ends it.
    # The window opens centred on the screen.
    scenario startup-real "$preset" RODEdiz.exe "${STARTUP[@]}" expect 1078 "Current version: Unknown" centred \
        key return still-open 2 no-box 1 wait 1001 Disconnected 30 key escape expect-exit 20
    # The system menu's about item opens the about box, centred over the window; OK closes it.
    scenario about-box "$preset" RODEdiz.exe syscommand 16 box-centred "Vane Upgrade" 10 box "Vane Upgrade" ok 10 \
        still-open 1 key escape expect-exit 20
    # Plugged in after start, its volume mounted late: one arrival (the volume's,
    # once it has its letter) starts one monitor run, which connects.
    VANE_EMULATED_PLUG_AT_MS=5000 VANE_EMULATED_LETTER_DELAY_MS=1500 \
        scenario late-letter "$preset" RODEdiz-emulated.exe wait 1001 Disconnected 10 wait 1001 Connected 20 \
        wait-contains 1078 "Current version:Vane_TX_V1020" 10 key escape expect-exit 20
    count_arrivals "$preset" 1
    # The emulated target connects and shows its version.
    screenshot startup-emulated "$preset" RODEdiz-emulated.exe "${STARTUP[@]}" wait 1001 Connected 2 \
        expect 1039 Vane_TX_V1030.fir expect 1052 "195.31 KBytes" expect-contains 1045 "-" \
        wait-contains 1078 "Current version:Vane_TX_V1020" 10 SHOT key escape expect-exit 20
    check_registry "$preset"
    # The main job: Upgrade runs the flash loader, the target comes back in flash mode, the download ends.
    screenshot upgrade-emulated "$preset" RODEdiz-emulated.exe wait 1001 Connected 10 \
        wait-contains 1078 "Current version:Vane_TX_V1020" 10 click 1029 wait 1002 "Complete!" 120 \
        wait 1078 "Current version:Vane_TX_V1030" 10 no-box 1 SHOT key escape expect-exit 20
    # The target came back during the job: one arrival, which starts no run of its own.
    count_arrivals "$preset" 1
    check_pixels "$ROOT/build/$preset/wine-screenshot.png"
    # An engineering path through the hidden controls: the dump of mode row 2 into a typed path.
    rm -f "$ROOT/build/$preset/dump.bin"
    scenario dump-emulated "$preset" RODEdiz-emulated.exe wait 1001 Connected 10 select 1044 2 \
        expect 1029 Dump settext 1005 dump.bin settext 1030 10000 click 1029 wait 1002 "Complete!" 60 \
        no-box 1 key escape expect-exit 20
    check_dump "$ROOT/build/$preset/dump.bin"
done

echo "== $FAILURES scenario(s) failed"
[ "$FAILURES" = 0 ]
