#!/usr/bin/env bash
# End-to-end cases of the vane-upgrade command on the emulated target (and on
# an empty umockdev machine). Usage: vane_upgrade_cli_test.sh CASE
# with VANE_UPGRADE and MAKE_DEMO_IMAGES naming the programs.
set -uo pipefail
case_name=$1
work=$(mktemp -d /tmp/vane-cli-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Copies of kept bytes go below the user's state folder: here, the case's own.
export XDG_STATE_HOME="$work/state"
export ASAN_OPTIONS=${ASAN_OPTIONS:-}${ASAN_OPTIONS:+:}verify_asan_link_order=0

fail() { echo "FAIL ($case_name): $*"; echo "--- stdout"; cat out.txt 2>/dev/null; echo "--- stderr"; cat err.txt 2>/dev/null; exit 1; }

# Runs vane-upgrade with a time limit; sets $code.
run() {
  timeout 60 "$VANE_UPGRADE" "$@" >out.txt 2>err.txt </dev/null
  code=$?
  [ $code -ne 124 ] || fail "vane-upgrade $* did not end within 60 s"
}
expect_code() { [ "$code" -eq "$1" ] || fail "exit code $code, expected $1"; }
expect_out() { grep -qF -- "$1" out.txt || fail "standard output lacks: $1"; }
expect_err() { grep -qF -- "$1" err.txt || fail "standard error lacks: $1"; }
image_size() { stat -c %s Data/Vane_TX_V1030.fir; }

"$MAKE_DEMO_IMAGES" Data || fail "make_demo_images failed"

# The runs over several targets read the event lines of single-target runs.
case "$case_name" in
fleet_all | fleet_watch)
  said=$("$VANE_UPGRADE" --emulate --json version 2>&1 >/dev/null)
  if [[ $said == *"not expected"* ]]; then
    echo "SKIP ($case_name): this build has no --json"
    exit 0
  fi
  ;;
esac

case "$case_name" in
upgrade_version_dump)
  run --emulate --emulate-flash flash.bin --trace trace.txt --log log.txt upgrade
  expect_code 0
  expect_out "Complete!"
  [ "$(wc -l <err.txt)" -eq 0 ] || fail "no message box expected"
  cmp -n "$(image_size)" flash.bin Data/Vane_TX_V1030.fir || fail "the flash does not hold the image"
  grep -q '^06 60 00 00 00 00 00 00 00 00 in 3583 5 ok$' trace.txt || fail "the trace lacks the loader's Execute"
  grep -q "Registry values are not kept on Linux" log.txt || fail "the log lacks the registry note"
  grep -q "Mass Storage Connected !" log.txt || fail "the log lacks the discovery lines"
  ! grep -q "Mass Storage Connected" out.txt || fail "diagnostic lines reached the display"
  [ ! -e Backup ] && [ ! -e state ] || fail "a successful upgrade left a backup folder behind"
  run --emulate --emulate-flash flash.bin version
  expect_code 0
  expect_out "Current version:Vane_TX_V1030"
  run --emulate --emulate-flash flash.bin dump 10000 dump.bin
  expect_code 0
  [ "$(stat -c %s dump.bin)" -eq 10000 ] || fail "the dump is not 10000 bytes"
  cmp -n 10000 dump.bin flash.bin || fail "the dump differs from the flash"
  ;;
declined_old_version)
  run --emulate --emulate-flash flash.bin upgrade
  expect_code 0
  mkdir old
  # An older version with other bytes: were it written, the flash would change.
  tr '\000-\377' '\377\000-\376' <Data/Vane_TX_V1030.fir >old/Vane_TX_V1020.fir
  cp flash.bin before.bin
  run --emulate --emulate-flash flash.bin --no upgrade old/Vane_TX_V1020.fir
  expect_code 1
  expect_err "Update File Version is old!"
  expect_err "Cancel (--no)"
  expect_err "a question was declined"
  cmp flash.bin before.bin || fail "the declined upgrade changed the flash"
  # Without --no and without a terminal the question is answered Cancel as well.
  run --emulate --emulate-flash flash.bin upgrade old/Vane_TX_V1020.fir
  expect_code 1
  expect_err "no terminal to ask"
  cmp flash.bin before.bin || fail "the unanswered question changed the flash"
  ;;
wrong_usage)
  run --emulate --trace trace.txt upgrade --frobnicate
  expect_code 2
  [ "$(wc -l <err.txt)" -eq 1 ] || fail "one line of error expected"
  [ ! -e trace.txt ] || fail "a usage error must send nothing"
  run --emulate dump 12ab out.bin
  expect_code 2
  run --emulate upgrade --serial-offset 0x100 --serial-number 1
  expect_code 2
  run --emulate upgrade --data Data/wtf.fir@10080
  expect_code 2
  head -c 1000 /dev/zero >small.bin
  cp small.bin small.orig
  run --emulate --emulate-flash small.bin version
  expect_code 2
  expect_err "1000 bytes"
  cmp small.bin small.orig || fail "a flash file of the wrong size was touched"
  rm -rf Data
  run --emulate upgrade
  expect_code 2
  expect_err "make_demo_images Data"
  ;;
sram_in_flash_mode)
  head -c 5000 Data/Vane_TX_V1030.fir >sram.bin
  run --emulate sram sram.bin
  expect_code 0
  expect_out "Complete! Executing ..."
  run --emulate --emulate-state flash sram sram.bin
  expect_code 1
  expect_err "Please reboot the target for SDRAM download!"
  ! grep -q "Complete" out.txt || fail "another mode ran"
  ;;
unplugged_during_job)
  run --emulate --emulate-state flash --emulate-fault leave:30 upgrade
  expect_code 1
  expect_err "the job failed"
  ;;
serial_file)
  echo 1A2B >serial.txt
  run --emulate --emulate-state flash --emulate-flash flash.bin upgrade --serial-offset 3F000 --serial-file serial.txt
  expect_code 0
  expect_out "Next series number: 1A2C"
  [ "$(cat serial.txt)" = 1A2C ] || fail "the serial file holds $(cat serial.txt)"
  [ "$(od -An -tx1 -j $((0x3F000)) -N4 flash.bin | tr -d ' ')" = 2b1a0000 ] || fail "the number is not in the flash"
  # A job that fails before the number is burned: the reserved number stays unused.
  run --emulate --emulate-state flash --emulate-flash flash.bin --emulate-fault status:2 upgrade --serial-offset 3F000 --serial-file serial.txt
  expect_code 1
  expect_err "series number 1A2C was not burned and stays unused"
  [ "$(cat serial.txt)" = 1A2D ] || fail "the serial file holds $(cat serial.txt)"
  ;;
data_image)
  head -c 5000 Data/wtf.fir >data.bin
  run --emulate --emulate-state flash --emulate-flash flash.bin upgrade --data data.bin@80100
  expect_code 0
  cmp -n "$(image_size)" flash.bin Data/Vane_TX_V1030.fir || fail "the flash does not hold the code image"
  cmp -i 0:$((0x80100)) -n 5000 data.bin flash.bin || fail "the flash does not hold the data image at 0x80100"
  [ "$(od -v -An -tx1 -j $((0x80000)) -N256 flash.bin | tr -d ' \n' | tr -d f)" = "" ] || fail "the bytes before the data changed"
  ;;
output_modes)
  run --version
  expect_code 0
  grep -qE '^vane-upgrade [0-9]+[.][0-9]+' out.txt || fail "--version printed: $(cat out.txt)"
  # The same upgrade (from the boot ROM, the loader first) in each mode.
  run --emulate upgrade
  expect_code 0
  expect_out "Target: port emulated, node -"
  expect_out "Current version:Vane_TX_V1020"
  for step in "Block Erasing ..." "Write CODE to SPI Flash ..." "Data Compare..." "Complete!" "Current version:Vane_TX_V1030"; do
    grep -qxF -- "$step" out.txt || fail "no line: $step"
  done
  for phase in erase write verify; do
    [ "$(grep -cE "^  $phase +[0-9]+%" out.txt)" -ge 3 ] || fail "fewer than three progress lines of $phase"
  done
  tail -n1 out.txt | grep -qE '^Result: completed in [0-9]+:[0-9]{2}  [(]Vane_TX_V1020 -> Vane_TX_V1030[)]$' || fail "last line"
  ! grep -q "Connecting" out.txt || fail "the default output is not the transcript"
  run -v --emulate upgrade
  expect_code 0
  expect_out "Status: Connecting...(1)"
  expect_out "Product: Vane"
  run -q --emulate upgrade
  expect_code 0
  [ "$(wc -l <out.txt)" -eq 1 ] && grep -q '^Result: completed in ' out.txt || fail "-q shows more than the result"
  [ "$(wc -l <err.txt)" -eq 0 ] || fail "-q: something on standard error"
  run --json --port-name emu-7 --emulate --emulate-flash flash.bin upgrade
  expect_code 0
  [ "$(wc -l <err.txt)" -eq 0 ] || fail "--json: something on standard error"
  jq -R 'fromjson' out.txt >/dev/null || fail "a --json line does not parse"
  jq -R -c 'fromjson | select(.v != 1 or .port != "emu-7" or (.time | test("^[0-9-]+T[0-9:.]+Z$") | not))' \
    out.txt >bad.txt
  [ ! -s bad.txt ] || fail "--json lines without the version, port or time: $(head -3 bad.txt)"
  [ "$(jq -R -c 'fromjson | select(.event == "progress") | .phase' out.txt | sort -u | tr -d '"\n')" = "eraseverifywrite" ] ||
    fail "progress events not of each phase"
  [ "$(tail -n1 out.txt | jq -r '[.event, .outcome, .exit_code, .version_after] | join(" ")')" = "result completed 0 Vane_TX_V1030" ] ||
    fail "the last line is not the completed result"
  # A question and its answer are events too.
  mkdir old
  cp Data/Vane_TX_V1030.fir old/Vane_TX_V1020.fir
  run --json --no --emulate --emulate-flash flash.bin upgrade old/Vane_TX_V1020.fir
  expect_code 1
  jq -R -c 'fromjson | select(.event == "question" and .answer == "cancel")' out.txt | grep -q . || fail "no question event"
  [ "$(tail -n1 out.txt | jq -r '.outcome')" = declined ] || fail "the last line is not the declined result"
  run --json --emulate upgrade --frobnicate
  expect_code 2
  [ "$(jq -r '.outcome' out.txt)" = usage ] || fail "a usage error gives no result event"
  ;;
list_emulated)
  run --emulate list
  expect_code 0
  expect_out "Vane_TX_V1020"
  ;;
no_target)
  command -v umockdev-run >/dev/null || fail "umockdev-run is missing"
  timeout 60 umockdev-run -- "$VANE_UPGRADE" version >out.txt 2>err.txt </dev/null
  code=$?
  expect_code 3
  expect_err "no transmitter found"
  expect_out "Result: no-target"
  timeout 60 umockdev-run -- "$VANE_UPGRADE" list >out.txt 2>err.txt </dev/null
  code=$?
  expect_code 3
  ;;
fleet_all)
  # Target 2 fails; the others complete all the same, each in its own flash
  # file, each with its own series number from the store and its own record.
  export XDG_STATE_HOME=$work/state
  run --records line.sqlite serial-next 1A000
  expect_code 0
  run --emulate-targets 3 --emulate-fault fail:20@2 --emulate-flash-dir flash --records line.sqlite upgrade --all \
    --serial-offset 3F000
  expect_code 1
  expect_out "emu-1: completed"
  expect_out "emu-2: failed"
  expect_out "emu-2: Status: Connected"
  for i in 1 3; do
    grep -Eq "^emu-$i +Vane_TX_V1020 -> Vane_TX_V1030 +1A00[0-2] +completed +0:[0-9][0-9]$" out.txt || fail "summary row of emu-$i"
    cmp -n "$(image_size)" flash/emu-$i.bin Data/Vane_TX_V1030.fir || fail "emu-$i does not hold the image"
  done
  grep -Eq "^emu-2 +.* failed" out.txt || fail "summary row of emu-2"
  run --records line.sqlite records --serials
  [ "$(grep -Ec '^1A00[0-2] +burned +[^ ]+ +emu-[13] ' out.txt)" -eq 2 ] || fail "two numbers burned, one for each of emu-1 and emu-3"
  # emu-2 failed in the identity step, which goes on: its number reached the transmitter.
  number=$(od -An -tx4 -j $((0x3F000)) -N4 flash/emu-2.bin | tr -d ' ' | tr a-f A-F | sed 's/^0*//')
  grep -Eq "^$number +burned +[^ ]+ +emu-2 .*Chip ID Erase FAILED" out.txt || fail "the number of emu-2 ($number) is not burned"
  run --emulate-targets 3 --emulate-flash-dir flash version --all
  expect_code 0
  grep -Eq "^emu-3 +Vane_TX_V1030 -> - +- +completed" out.txt || fail "version row of emu-3"
  # --json: the runs' event lines and nothing else, one result per target.
  run --emulate-targets 2 --emulate-fault fail:20@2 --json upgrade --all
  expect_code 1
  ! grep -qv '^{.*"port":"emu-[12]".*}$' out.txt || fail "a line that is not an event of a target"
  [ "$(grep -c '"event":"result"' out.txt)" -eq 2 ] || fail "one result per target expected"
  ;;
fleet_watch)
  run --emulate-targets 3 --emulate-arrive-every 200 upgrade --watch --count 3
  expect_code 0
  [ "$(grep -Ec '^emu-[123] +Vane_TX_V1020 -> Vane_TX_V1030 +- +completed' out.txt)" -eq 3 ] || fail "three completed rows expected"
  # Ctrl-C: the running job finishes, nothing new starts.
  timeout --foreground 120 "$VANE_UPGRADE" --emulate-targets 2 --emulate-arrive-every 600000 --emulate-timing realistic upgrade --watch \
    >out.txt 2>err.txt </dev/null &
  pid=$!
  for _ in $(seq 600); do grep -q "emu-1: Block Erasing" out.txt && break; sleep 0.1; done
  grep -q "emu-1: Block Erasing" out.txt || fail "the job did not start"
  kill -INT $pid
  wait $pid
  code=$?
  expect_code 0
  expect_err "no new job starts"
  expect_out "emu-1: completed"
  ! grep -q "emu-2" out.txt || fail "a job started after the interrupt"
  ;;
fleet_no_target)
  command -v umockdev-run >/dev/null || fail "umockdev-run is missing"
  for command in upgrade version; do
    start=$(date +%s)
    timeout 60 umockdev-run -- "$VANE_UPGRADE" $command --all >out.txt 2>err.txt </dev/null
    code=$?
    expect_code 3
    expect_err "no transmitter found"
    [ $(($(date +%s) - start)) -lt 20 ] || fail "$command --all took too long without a target"
  done
  ;;
records)
  # Refused before anything is sent to the target: a malformed store, a
  # server that does not answer, a store with no number to hand out.
  run --emulate --trace trace.txt --records 'postgresql://line/db?colour=blue' upgrade
  expect_code 2
  [ "$(wc -l <err.txt)" -eq 1 ] || fail "one line of error expected"
  run --emulate --trace trace.txt --records "postgresql:///line?host=$work/no-server" upgrade
  expect_code 1
  expect_err "cannot connect"
  [ "$(wc -l <err.txt)" -eq 1 ] || fail "one line of error expected"
  [ ! -s trace.txt ] || fail "an unreachable store must send nothing"
  # A station refuses once for all its targets, and starts none of them.
  run --emulate-targets 3 --records "postgresql:///line?host=$work/no-server" upgrade --all
  expect_code 1
  [ "$(wc -l <err.txt)" -eq 1 ] || fail "one line of error expected for the station"
  ! grep -q "emu-" out.txt || fail "no target may start with an unreachable store"
  run --emulate --trace trace.txt --records db.sqlite upgrade --serial-offset 3F000
  expect_code 1
  expect_err "serial-next"
  [ ! -s trace.txt ] || fail "a store without numbers must send nothing"
  run --records db.sqlite serial-next 1A2B
  expect_code 0

  # Completed (with a number from the store), declined, failed.
  run --emulate --emulate-flash flash.bin --records db.sqlite --station st-1 upgrade --serial-offset 3F000
  expect_code 0
  [ "$(od -An -tx1 -j $((0x3F000)) -N4 flash.bin | tr -d ' ')" = 2b1a0000 ] || fail "the number is not in the flash"
  mkdir old
  tr '\000-\377' '\377\000-\376' <Data/Vane_TX_V1030.fir >old/Vane_TX_V1020.fir
  run --emulate --emulate-flash flash.bin --records db.sqlite --station st-1 --no upgrade old/Vane_TX_V1020.fir
  expect_code 1
  run --emulate --emulate-flash flash.bin --emulate-fault status:2 --records db.sqlite --station st-1 upgrade --serial-offset 3F000
  expect_code 1
  expect_err "series number 1A2C was not burned"
  run --records db.sqlite serial-next 1A2C
  expect_code 1
  expect_err "refused"
  # A step that fails and goes on (the identity read): the number still reaches the transmitter.
  run --emulate --emulate-state flash --emulate-flash burned.bin --emulate-fault fail:9 --records db.sqlite --station st-1 upgrade \
    --serial-offset 3F000
  expect_code 1
  expect_err "Read ID FAILED"
  expect_err "series number 1A2D was burned on the transmitter although the job failed"
  [ "$(od -An -tx1 -j $((0x3F000)) -N4 burned.bin | tr -d ' ')" = 2d1a0000 ] || fail "1A2D is not in the flash"

  run --records db.sqlite records
  expect_code 0
  [ "$(wc -l <out.txt)" -eq 5 ] || fail "four records expected"
  grep -q "st-1 *emulated *upgrade *Vane_TX_V1020 *Vane_TX_V1030 *1A2B *completed" out.txt || fail "no completed record"
  grep -q "st-1 *emulated *upgrade *Vane_TX_V1030 *Vane_TX_V1030 *- *declined .*a question was declined" out.txt ||
    fail "no declined record"
  grep -q "1A2C *failed .*Write data to SPI Flash failed" out.txt || fail "no failed record"
  run --records db.sqlite records --csv
  expect_out ",upgrade,Vane_TX_V1020,Vane_TX_V1030,./Data/Vane_TX_V1030.fir,$(sha256sum <Data/Vane_TX_V1030.fir | cut -c1-64),1A2B,completed,,"
  run --records db.sqlite records --json
  expect_out '"outcome": "declined"'
  run --records db.sqlite records --serials
  grep -q "^1A2B *burned *st-1" out.txt || fail "1A2B is not burned"
  grep -q "^1A2C *void *st-1 .*Write data to SPI Flash failed" out.txt || fail "1A2C is not void"
  grep -q "^1A2D *burned *st-1 .*Read ID FAILED" out.txt || fail "1A2D is not burned"

  # An erased identity block names no version: unknown in the output and the record.
  head -c $((0x400000)) /dev/zero | tr '\000' '\377' >erased.bin
  run --json --emulate --emulate-flash erased.bin --emulate-state flash version
  expect_code 0
  ! grep -q $'\xef\xbf\xbd' out.txt || fail "replacement characters for the unread version"
  [ "$(tail -n1 out.txt | jq -r '.text')" = "Current version: Unknown" ] || fail "the result does not say unknown"
  run --yes --emulate --emulate-flash erased.bin --emulate-state flash --records db.sqlite --station st-1 upgrade
  expect_code 0
  run --records db.sqlite records --json
  [ "$(jq -r '.[-1] | .version_before + "|" + .version_after' out.txt)" = "|Vane_TX_V1030" ] || fail "the record's versions"
  run --records db.sqlite records
  tail -n1 out.txt | grep -q "st-1 *emulated *upgrade *- *Vane_TX_V1030 " || fail "the unknown version is not shown as -"

  # Printing a store that is not there says so, and creates nothing.
  run --records missing.sqlite records
  expect_code 1
  expect_err "no records store at missing.sqlite"
  [ ! -e missing.sqlite ] || fail "printing created a store"

  # --json: one result event on every path, the text on standard error only.
  json_result() {
    [ "$(wc -l <out.txt)" -eq 1 ] || fail "--json: one line expected"
    [ "$(jq -r '[.event, .outcome, .exit_code] | join(" ")' out.txt)" = "$1" ] || fail "--json: not the result $1"
  }
  run --json --records db.sqlite records --serials
  expect_code 0
  json_result "result completed 0"
  [ "$(jq -r '.serials | map(.serial_number) | join(" ")' out.txt)" = "1A2B 1A2C 1A2D" ] || fail "--json: the numbers"
  run --json --records db.sqlite serial-next 1A2C
  expect_code 1
  json_result "result failed 1"
  expect_err "refused"
  run --json --records db.sqlite serial-next 1A30
  expect_code 0
  json_result "result completed 0"
  [ "$(jq -r '.next_serial' out.txt)" = 1A30 ] || fail "--json: the next number"
  for targets in "--emulate upgrade" "--emulate-targets 2 upgrade --all"; do
    run --json --records "postgresql:///line?host=$work/no-server" $targets
    expect_code 1
    json_result "result failed 1"
    expect_err "cannot connect"
  done
  run --json --records missing.sqlite records
  expect_code 1
  json_result "result failed 1"

  # The store refuses the record of a job it let start: the device is done,
  # the record is not, and both a run and a station say where it is kept.
  sqlite3 db.sqlite "CREATE TRIGGER closed BEFORE INSERT ON job_records WHEN NEW.station <> ''
    BEGIN SELECT RAISE(ABORT, 'the line is closed'); END" || fail "sqlite3"
  unsaved=$work/state/vane-upgrade/unsaved-records.jsonl
  run --emulate --records db.sqlite --station st-1 upgrade
  expect_code 4
  expect_err "the line is closed"
  tail -n1 out.txt | grep -qF "record not stored: $unsaved" || fail "the result line does not name the kept record"
  [ "$(grep -c '"station":"st-1"' "$unsaved")" -eq 1 ] || fail "the record is not kept"
  run --json --emulate --records db.sqlite upgrade
  expect_code 4
  [ "$(tail -n1 out.txt | jq -r '[.outcome, .exit_code, .record, .unsaved_records] | join(" ")')" = "completed 4 not stored $unsaved" ] ||
    fail "--json: the result does not tell the record not stored"
  run --emulate-targets 2 --records db.sqlite upgrade --all
  expect_code 4
  [ "$(grep -Ec "^emu-[12] .* completed, record not stored: $unsaved" out.txt)" -eq 2 ] || fail "the summary rows"
  [ "$(grep -c "^emu-[12]: .*the line is closed" err.txt)" -eq 2 ] || fail "the runs' complaints were dropped"

  # The line open again: the kept records go in, each once however often the file is imported.
  sqlite3 db.sqlite "DROP TRIGGER closed" || fail "sqlite3"
  run --records db.sqlite records --csv
  before=$(wc -l <out.txt)
  run --records db.sqlite records import "$unsaved"
  expect_code 0
  expect_out "Imported 4 records"
  run --json --records db.sqlite records import "$unsaved"
  expect_code 0
  json_result "result completed 0"
  [ "$(jq -r .text out.txt)" = "Imported 0 records from $unsaved; 4 were in the store already" ] || fail "imported twice"
  run --records db.sqlite records --csv
  [ "$(wc -l <out.txt)" -eq $((before + 4)) ] || fail "four records expected to be added"

  # A job abandoned by a second interrupt leaves its record.
  timeout --foreground 120 "$VANE_UPGRADE" --emulate --emulate-timing realistic --records db.sqlite --station st-int upgrade \
    >out.txt 2>err.txt </dev/null &
  pid=$!
  for _ in $(seq 600); do grep -q "Block Erasing" out.txt && break; sleep 0.1; done
  kill -INT $pid
  sleep 0.5
  kill -INT $pid
  wait $pid
  code=$?
  expect_code 130
  run --records db.sqlite records --csv
  grep -q ",st-int,emulated,upgrade,.*,interrupted,interrupted," out.txt || fail "no record of the interrupted job"

  # A file that may be written in a folder that may not (the journal goes
  # there): refused before anything reaches the target.
  if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
    mkdir locked open
    run --records locked/db.sqlite serial-next 1
    chmod 755 "$work" locked && chmod 666 locked/db.sqlite && chmod 777 open
    timeout 60 setpriv --reuid=65534 --regid=65534 --clear-groups "$VANE_UPGRADE" --emulate --trace open/trace.txt --records locked/db.sqlite upgrade >out.txt 2>err.txt </dev/null
    code=$?
    expect_code 1
    expect_err "locked/db.sqlite"
    [ ! -s open/trace.txt ] || fail "a store that cannot take a record must send nothing"
  fi
  ;;
records_postgres)
  # Beside the server of with_postgres.sh. The server goes away while a job
  # runs: the job finishes, its record is kept in a local file. The URI
  # carries a password (the server does not ask for it): no output shows it.
  store="$VANE_TEST_POSTGRES_URI&password=Sekret-0"
  export XDG_STATE_HOME=$work/state
  run --records "$store" serial-next 100
  expect_code 0
  timeout 60 "$VANE_UPGRADE" --emulate --emulate-flash flash.bin --records "$store" upgrade --serial-offset 3F000 \
    >out.txt 2>err.txt </dev/null &
  job=$!
  for _ in $(seq 200); do
    "$VANE_UPGRADE" --records "$store" records --serials 2>/dev/null | grep -q "^100 " && break
    sleep 0.05
  done
  pg_server_stop
  wait $job
  code=$?
  expect_code 4
  expect_out "record not stored: $work/state/vane-upgrade/unsaved-records.jsonl"
  [ "$(od -An -tx1 -j $((0x3F000)) -N4 flash.bin | tr -d ' ')" = 00010000 ] || fail "the number is not in the flash"
  expect_err "kept in $work/state/vane-upgrade/unsaved-records.jsonl"
  grep -q '"serial_number":"100".*"outcome":"completed".*"serial_state":"burned"' state/vane-upgrade/unsaved-records.jsonl ||
    fail "the local file lacks the record"

  # A server that is down: refused before anything is sent.
  run --emulate --trace trace.txt --records "$store" upgrade --serial-offset 3F000
  expect_code 1
  expect_err "cannot connect"
  [ ! -s trace.txt ] || fail "an unreachable store must send nothing"

  # Back again; a user who may only read is refused before anything is sent.
  pg_server_start || fail "the server did not start again"
  "$pg_bin/psql" -q "$store" -c "CREATE ROLE reader LOGIN; GRANT SELECT ON ALL TABLES IN SCHEMA public TO reader" ||
    fail "psql"
  reader="postgresql:///vane_records?host=$VANE_TEST_POSTGRES_DIR&user=reader"
  run --emulate --trace trace.txt --records "$reader" upgrade
  expect_code 1
  expect_err "may not write"
  [ ! -s trace.txt ] || fail "a store that cannot be written must send nothing"
  run --records "$reader" records
  expect_code 0

  # The number of the lost job is never handed out again.
  run --emulate --emulate-flash flash.bin --records "$store" upgrade --serial-offset 3F000
  expect_code 0
  [ "$(od -An -tx1 -j $((0x3F000)) -N4 flash.bin | tr -d ' ')" = 01010000 ] || fail "101 is not in the flash"
  run --records "$store" records --serials
  grep -q "^100 *taken .*no record of its job" out.txt || fail "100 is not shown without a record"
  grep -q "^101 *burned" out.txt || fail "101 is not burned"
  # The kept record brings the number's state: burned on the transmitter.
  for _ in 1 2; do
    run --records "$store" records import state/vane-upgrade/unsaved-records.jsonl
    expect_code 0
  done
  run --records "$store" records --serials
  grep -q "^100 *burned" out.txt || fail "100 is not burned after the import"
  run --records "$store" records --csv
  [ "$(grep -c ',100,completed,' out.txt)" -eq 1 ] || fail "the record of 100 is not in the store once"

  # A station's name the server would refuse: refused before anything is sent.
  run --emulate --trace trace-st.txt --records "$store" --station $'st\xff' upgrade
  expect_code 2
  [ ! -e trace-st.txt ] || fail "a station's name that is not UTF-8 must send nothing"

  # A user the server asks for a password. Every way the URI can give one,
  # right and wrong: no output, file or record shows it ("ekret" is in each).
  "$pg_bin/psql" -q "$store" -c "CREATE ROLE secretive LOGIN SUPERUSER PASSWORD 'Sekret-7'" || fail "psql"
  hba=$VANE_TEST_POSTGRES_DIR/data/pg_hba.conf
  { echo "local all secretive scram-sha-256"; cat "$hba"; } >hba.new && cat hba.new >"$hba" && rm hba.new
  (cd / && $pg_as "$pg_bin/pg_ctl" -D "$VANE_TEST_POSTGRES_DIR/data" reload >/dev/null) || fail "reload"
  sock=$VANE_TEST_POSTGRES_DIR
  for n in 7 8; do
    echo "*:*:*:secretive:Sekret-$n" >pgpass-$n
    printf '[line]\nhost=%s\ndbname=vane_records\nuser=secretive\npassword=Sekret-%s\n' "$sock" $n >services-$n
  done
  chmod 600 pgpass-*
  keep() { cat out.txt err.txt >>kept.txt; }
  i=0
  for uri in "postgresql://secretive:Sekret-7@/vane_records?host=$sock" \
    "postgres://secretive:%53ekret-7@/vane_records?host=$sock" \
    "postgresql:///vane_records?host=$sock&user=secretive&password=Sekret-7" \
    "postgresql:///vane_records?host=$sock&user=secretive&pass%77ord=%53ekret-7" \
    "postgresql:///vane_records?host=$sock&user=secretive&passfile=$work/pgpass-7" \
    "postgresql:///vane_records?service=line"; do
    i=$((i + 1))
    export PGSERVICEFILE=$work/services-7
    run --json --emulate --log log-$i.txt --trace trace-$i.txt --records "$uri" dump 4096 dump.bin
    keep
    expect_code 0
    wrong=${uri//ekret-7/ekret-8}
    export PGSERVICEFILE=$work/services-8
    for words in "--json --emulate --trace trace-w$i.txt upgrade" "records" "serial-next FFFF0000"; do
      # shellcheck disable=SC2086
      run --records "${wrong//pgpass-7/pgpass-8}" $words
      keep
      expect_code 1
      expect_err "password authentication failed"
    done
  done
  export PGSERVICEFILE=$work/services-7
  run --records "postgresql://secretive:Sekret-7@/vane_records?host=$sock" records --json
  keep
  [ "$(jq -r '.[-1].command' out.txt)" = dump ] || fail "the last record is not the dump"
  run --emulate-targets 2 --emulate-flash-dir fleet --records "postgresql://secretive:Sekret-7@/vane_records?host=$sock" \
    --log fleet-log.txt upgrade --all --serial-offset 3F000
  keep
  expect_code 0
  run --emulate-targets 2 --records "postgresql://secretive:Sekret-8@/vane_records?host=$sock" upgrade --all --json
  keep
  expect_code 1
  # Spellings libpq does not take, and a URI in the wrong place: usage errors.
  for words in "--records postgresql:///vane_records?host=$sock&PASSWORD=Sekret-7 records" \
    "--records postgresql://secretive:Sekret-7%zz@/vane_records?host=$sock records" \
    "--records postgresql:///vane_records?host=$sock&password=Sekret=7 records" \
    "records postgresql://secretive:Sekret-7@/vane_records?host=$sock" \
    "--json postgresql://secretive:Sekret-7@/vane_records?host=$sock upgrade"; do
    set -f # the URIs' '?' is no pattern
    # shellcheck disable=SC2086
    run $words
    set +f
    keep
    expect_code 2
  done
  leaks=$(grep -rlF ekret . --exclude='pgpass-*' --exclude='services-*')
  [ -z "$leaks" ] || fail "a password in: $leaks: $(grep -rhF ekret $leaks | head -3)"
  ;;
*)
  fail "unknown case"
  ;;
esac
echo "PASS ($case_name)"
