#!/bin/bash
# vane-upgrade.exe under Wine: builds the win64 preset (and win32 when Wine
# runs 32-bit programs) and runs the console program as a test station would,
# by its exit codes, its output and the files it leaves.
#
#   tests/wine/run_console_tests.sh [--no-build]
#
# Exit status: 0 all cases passed, 1 a case failed or a build broke,
# 77 Wine is missing (the test is skipped).
set -u

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=1
[ "${1:-}" = "--no-build" ] && BUILD=0

find_tool() {
    for candidate in "$@"; do
        if command -v "$candidate" >/dev/null 2>&1; then command -v "$candidate"; return 0; fi
        if [ -x "$candidate" ]; then echo "$candidate"; return 0; fi
    done
    return 1
}

WINE64=$(find_tool wine64 /usr/lib/wine/wine64) || { echo "wine64 is not installed: skipped"; exit 77; }
WINE32=$(find_tool /usr/lib/wine/wine wine) || WINE32=""
if [ -n "$WINE32" ] && ! "$WINE32" --version >/dev/null 2>&1; then WINE32=""; fi
WINESERVER=$(find_tool wineserver /usr/lib/wine/wineserver) || WINESERVER=""

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

# A prefix of its own: the window's tests may use theirs at the same time.
export WINEPREFIX="$ROOT/build/wine-console-prefix"
export WINEDLLOVERRIDES="mscoree,mshtml="
WORK=$(mktemp -d)
cleanup() {
    [ -n "$WINESERVER" ] && "$WINESERVER" -k >/dev/null 2>&1
    rm -rf "$WORK"
}
trap cleanup EXIT
if [ ! -d "$WINEPREFIX" ]; then
    echo "== making the Wine prefix $WINEPREFIX"
    WINEDEBUG=-all "$WINE64" wineboot -i >/dev/null 2>&1
fi

FAILURES=0
fail() { echo "FAIL: $CASE: $*"; FAILURES=$((FAILURES + 1)); }
pass() { echo "PASS: $CASE"; }

# vu ARG... : one run of the preset's vane-upgrade.exe in the case's folder;
# out.txt and err.txt without their carriage returns, the exit code in CODE.
# Misuse of the heap that Wine reports fails the case.
vu() {
    (cd "$CASE_DIR" && WINEDEBUG=warn+heap timeout 120 "$LOADER" "$PROGRAM" "$@" >out.raw 2>err.raw </dev/null)
    CODE=$?
    tr -d '\r' <"$CASE_DIR/out.raw" >"$CASE_DIR/out.txt"
    grep -v '^[0-9a-f]*:\(fixme\|err\|warn\|trace\):' "$CASE_DIR/err.raw" | tr -d '\r' >"$CASE_DIR/err.txt"
    if grep -q ':heap:' "$CASE_DIR/err.raw"; then fail "Wine reports misuse of the heap"; fi
}
begin() {
    CASE="$PRESET $1"
    CASE_DIR="$WORK/$PRESET-$1"
    mkdir -p "$CASE_DIR"
    cp -r "$ROOT/build/$PRESET/Data" "$CASE_DIR/"
    BEFORE=$FAILURES
}
end() { [ "$FAILURES" = "$BEFORE" ] && pass; }
expect_code() { [ "$CODE" = "$1" ] || fail "exit code $CODE, expected $1 ($(tail -n 3 "$CASE_DIR/err.txt" | tr '\n' ' '))"; }
expect_out() { grep -qF -- "$1" "$CASE_DIR/out.txt" || fail "no \"$1\" in the output"; }
expect_err() { grep -qF -- "$1" "$CASE_DIR/err.txt" || fail "no \"$1\" in the errors"; }

for PRESET in $PRESETS; do
    LOADER=$WINE64
    [ "$PRESET" = win32 ] && LOADER=$WINE32
    PROGRAM="$(cd "$ROOT/build/$PRESET" && pwd)/vane-upgrade.exe"
    # Wine takes a Unix path to the program, and its own paths for the program's arguments.

    # It asks for an administrator, as the window does (raw volume access, HKEY_LOCAL_MACHINE).
    begin manifest
    out=$(cd "$ROOT/build/$PRESET" && WINEDEBUG=-all timeout 120 "$LOADER" ./windows_checks.exe manifest vane-upgrade.exe 2>&1)
    CODE=$?
    expect_code 0
    [ "$CODE" = 0 ] || echo "$out" | tr -d '\r' | head -3
    end

    # From the boot ROM (the flash loader first) to "Complete!"; the flash file holds the image.
    begin upgrade
    vu --emulate --emulate-flash flash.bin --yes upgrade
    expect_code 0
    expect_out "Complete!"
    expect_out "Result: completed"
    size=$(stat -c %s "$CASE_DIR/Data/Vane_TX_V1030.fir")
    cmp -n "$size" "$CASE_DIR/flash.bin" "$CASE_DIR/Data/Vane_TX_V1030.fir" >/dev/null 2>&1 ||
        fail "the flash file does not hold the image"
    # The same target again, as JSON events: one object a line, the result last.
    vu --emulate --emulate-flash flash.bin --emulate-state flash --json version
    expect_code 0
    tail -n 1 "$CASE_DIR/out.txt" | grep -q '"exit_code":0' || fail "the last JSON line is not the result: $(tail -n 1 "$CASE_DIR/out.txt")"
    end

    # An older image is declined: exit 1, the flash unchanged.
    begin declined
    vu --emulate --emulate-flash flash.bin --yes upgrade
    mkdir -p "$CASE_DIR/old"
    tr '\000-\377' '\377\000-\376' <"$CASE_DIR/Data/Vane_TX_V1030.fir" >"$CASE_DIR/old/Vane_TX_V1020.fir"
    cp "$CASE_DIR/flash.bin" "$CASE_DIR/before.bin"
    vu --emulate --emulate-flash flash.bin --no upgrade 'old\Vane_TX_V1020.fir'
    expect_code 1
    expect_err "Update File Version is old!"
    cmp -s "$CASE_DIR/flash.bin" "$CASE_DIR/before.bin" || fail "the declined upgrade changed the flash"
    end

    # Wrong usage: exit 2 with one line; the stores of Linux are refused by name.
    # The help starts the program too, with its libraries taken from the system.
    begin usage
    vu --help
    expect_code 0
    expect_out "Usage: vane-upgrade"
    vu --emulate upgrade --frobnicate
    expect_code 2
    [ "$(wc -l <"$CASE_DIR/err.txt")" -eq 1 ] || fail "one line of error expected: $(cat "$CASE_DIR/err.txt")"
    vu --emulate --records records.sqlite upgrade
    expect_code 2
    expect_err "SQLite and PostgreSQL stores are kept on Linux"
    vu --emulate --records 'postgresql:///line?host=/tmp' upgrade
    expect_code 2
    end

    # Three emulated targets at once, the second failing: exit 1, the others
    # hold the image, the summary names all three; as JSON, every line is an
    # object with its target's port, and each target has its result.
    begin all
    vu --emulate-targets 3 --emulate-flash-dir flashes --emulate-fault fail:20@2 --yes upgrade --all
    expect_code 1
    size=$(stat -c %s "$CASE_DIR/Data/Vane_TX_V1030.fir")
    for i in 1 3; do
        cmp -n "$size" "$CASE_DIR/flashes/emu-$i.bin" "$CASE_DIR/Data/Vane_TX_V1030.fir" >/dev/null 2>&1 ||
            fail "the flash of emu-$i does not hold the image"
    done
    for row in "emu-1 .* completed" "emu-2 .* failed" "emu-3 .* completed"; do
        grep -q "^$row" "$CASE_DIR/out.txt" || fail "no summary row \"$row\""
    done
    vu --emulate-targets 3 --emulate-flash-dir flashes-json --emulate-fault fail:20@2 --yes --json upgrade --all
    expect_code 1
    results=$(jq -rs 'if all(.[]; (.port // "") | startswith("emu-"))
        then [.[] | select(.event == "result") | "\(.port)=\(.outcome)"] | sort | join(" ")
        else "a line without its port" end' "$CASE_DIR/out.txt" 2>&1)
    [ "$results" = "emu-1=completed emu-2=failed emu-3=completed" ] || fail "JSON results: $results"
    end

    # The station page: while two emulated targets run, the snapshot names
    # both; a request that names no loopback host is refused.
    begin serve
    (cd "$CASE_DIR" && WINEDEBUG=-all timeout 120 "$LOADER" "$PROGRAM" --emulate-targets 2 --emulate-timing realistic \
        --yes upgrade --all --serve 127.0.0.1:0 >out.raw 2>err.raw </dev/null; echo $? >code) &
    link=""
    for _ in $(seq 300); do
        link=$(tr -d '\r' <"$CASE_DIR/err.raw" 2>/dev/null | grep -o 'http://127.0.0.1:[0-9]*/' | head -n 1)
        [ -n "$link" ] && break
        sleep 0.1
    done
    if [ -z "$link" ]; then
        fail "no page address printed"
    else
        # The station starts its targets one after the other: the snapshot
        # names both once the second has started, at most a few seconds on.
        for _ in $(seq 100); do
            state=$(curl -s -m 10 "${link}state")
            tiles=$(jq -r '[.tiles[].port] | sort | join(" ")' <<<"$state" 2>&1)
            [ "$tiles" = "emu-1 emu-2" ] && break
            sleep 0.1
        done
        [ "$tiles" = "emu-1 emu-2" ] || fail "snapshot tiles: $tiles ($state)"
        refused=$(curl -s -o /dev/null -w '%{http_code}' -m 10 -H 'Host: elsewhere.example' "${link}state")
        [ "$refused" = 401 ] || fail "a request for another host got $refused"
    fi
    wait
    [ "$(cat "$CASE_DIR/code" 2>/dev/null)" = 0 ] || fail "the station ended with $(cat "$CASE_DIR/code" 2>/dev/null)"
    end

    # The real link on a machine without the target: exit 3, soon.
    begin no-target
    start=$(date +%s)
    vu --yes upgrade
    expect_code 3
    expect_err "no transmitter found"
    vu list
    expect_code 3
    vu --yes upgrade --all
    expect_code 3
    expect_err "no transmitter found"
    [ $(( $(date +%s) - start )) -lt 60 ] || fail "took $(( $(date +%s) - start )) s"
    end

    # One serial file, two stations started at once: two different numbers,
    # and the file holds the number after both; each job is a CSV row.
    begin serial-file
    echo 1A2B >"$CASE_DIR/serial.txt"
    for station in a b; do
        (cd "$CASE_DIR" && WINEDEBUG=-all timeout 120 "$LOADER" "$PROGRAM" --emulate --emulate-state flash \
            --emulate-flash "flash-$station.bin" --station "$station" --records jobs.csv \
            upgrade --serial-offset 3F000 --serial-file serial.txt >"out-$station.raw" 2>&1; echo $? >"code-$station") &
    done
    wait
    for station in a b; do
        [ "$(cat "$CASE_DIR/code-$station")" = 0 ] || fail "station $station ended with $(cat "$CASE_DIR/code-$station")"
    done
    burned=$(for station in a b; do od -An -tx1 -j $((0x3F000)) -N4 "$CASE_DIR/flash-$station.bin" | tr -d ' \n'; echo; done | sort | tr '\n' ' ')
    [ "$burned" = "2b1a0000 2c1a0000 " ] || fail "burned numbers: $burned"
    [ "$(tr -d '\r\n' <"$CASE_DIR/serial.txt")" = 1A2D ] || fail "the serial file holds $(cat "$CASE_DIR/serial.txt")"
    rows=$(grep -c ',completed,' "$CASE_DIR/jobs.csv" 2>/dev/null)
    [ "$(head -n 1 "$CASE_DIR/jobs.csv" | cut -d, -f1)" = started_at ] || fail "the CSV file has no header line"
    [ "$rows" = 2 ] || fail "CSV rows of completed jobs: ${rows:-none}"
    # The image's digest comes from the system's hashing library.
    digest=$(sha256sum "$CASE_DIR/Data/Vane_TX_V1030.fir" | cut -d' ' -f1)
    [ "$(grep -c ",$digest," "$CASE_DIR/jobs.csv")" = 2 ] || fail "the CSV rows do not hold the image's SHA-256"
    end
done

echo "== $FAILURES case(s) failed"
[ "$FAILURES" = 0 ]
