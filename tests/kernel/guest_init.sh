#!/bin/sh
# PID 1 of the kernel test machine (busybox sh, from the initramfs that
# run_rig.sh builds). It brings up the USB host and device stacks (dummy_hcd,
# usb-storage, sg, sd, configfs, FunctionFS) and systemd-udevd, then runs the
# scenarios named on the kernel command line (rig.scenarios=a,b,...) with the
# target as a USB gadget (vane-gadget) and vane-upgrade as the host's client.
# Results go to the second serial port (/dev/ttyS1), one line per fact:
#   SCENARIO <name> PASS|FAIL <detail>      TIME <what> <milliseconds>
#   FILE <name> / base64 lines / END FILE   RIG DONE
# The console (ttyS0) carries the kernel's messages and this script's chatter.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
/usr/bin/busybox --install -s

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm /run /tmp
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /dev/shm
chmod 1777 /tmp

RESULTS=/dev/ttyS1
RULE=/etc/udev/rules.d/60-vane-upgrade.rules
TOOL=/rig/bin/vane-upgrade
GADGET=/rig/bin/vane-gadget
IMAGE=/tmp/work/Data/Vane_TX_V1030.fir
UPGRADED=0
FAILURES=0
NODE='' PORT='' BLOCK='' GADGET_PID=''
# Sanitizer reports end the program with an error and are searched for below.
export ASAN_OPTIONS=abort_on_error=0:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

stty -F "$RESULTS" raw -echo 115200 2>/dev/null
say() { echo "$*" >"$RESULTS"; echo "rig: $*"; }
now_ms() {
  read -r up _ </proc/uptime
  cs=${up#*.}
  cs=${cs#0}
  echo $((${up%.*} * 1000 + cs * 10))
}
pass() { say "SCENARIO $1 PASS ${2:-}"; }
fail() {
  say "SCENARIO $1 FAIL $2"
  FAILURES=$((FAILURES + 1))
}
send_file() { # name path
  [ -f "$2" ] || return 0
  say "FILE $1"
  base64 "$2" >"$RESULTS"
  say "END FILE"
}
send_scenario_files() { # scenario: every file it left in /tmp/out
  for f in /tmp/out/"$1".*; do
    [ -f "$f" ] && send_file "${f##*/}" "$f"
  done
}

say "RIG BEGIN"
say "TIME kernel_to_init $(now_ms)"

# --- the USB and SCSI stacks -------------------------------------------------
for module in usb-common usbcore udc-core scsi_common scsi_mod sg sd_mod usb-storage configfs libcomposite usb_f_fs; do
  modprobe "$module" || say "NOTE module $module did not load"
done
mount -t configfs configfs /sys/kernel/config

# udevd as on a desktop: hotplug events reach libudev, rules set node rights.
/lib/systemd/systemd-udevd --daemon
udevadm trigger --type=subsystems --action=add
udevadm trigger --type=devices --action=add
udevadm settle --timeout=30
# Three controller pairs: the gang scenario puts a target on each.
modprobe dummy_hcd num=3 || say "NOTE module dummy_hcd did not load"
udevadm settle --timeout=30
say "TIME stacks_ready $(now_ms)"

mkdir -p /tmp/out /tmp/work /home/vane /tmp/user
cp -r /rig/work/Data /tmp/work/
chown vane:vane /home/vane /tmp/user

# --- the target ------------------------------------------------------------------
# Sets PORT, NODE and BLOCK for the target the kernel has now (returns 1 for none).
find_target() {
  for usb in /sys/bus/usb/devices/*; do
    [ -f "$usb/idVendor" ] || continue
    [ "$(cat "$usb/idVendor")" = 0416 ] && [ "$(cat "$usb/idProduct")" = b190 ] || continue
    for sg in "$usb"/*/host*/target*/*/scsi_generic/sg*; do
      [ -e "$sg" ] || continue
      PORT=${usb##*/}
      NODE=/dev/${sg##*/}
      BLOCK=
      for block in "$usb"/*/host*/target*/*/block/*; do
        [ -e "$block" ] && BLOCK=${block##*/}
      done
      return 0
    done
  done
  return 1
}

wait_target() { # seconds
  deadline=$(($(now_ms) + $1 * 1000))
  while ! find_target; do
    [ "$(now_ms)" -lt "$deadline" ] || return 1
    sleep 0.1
  done
  udevadm settle --timeout=30
  find_target # the disk driver may have attached meanwhile
  [ -c "$NODE" ]
}

wait_gone() { # seconds
  deadline=$(($(now_ms) + $1 * 1000))
  while find_target; do
    [ "$(now_ms)" -lt "$deadline" ] || return 1
    sleep 0.1
  done
  udevadm settle --timeout=30
}

gadget_start() { # scenario [gadget options]
  name=$1
  shift
  "$GADGET" --log "/tmp/out/$name.gadget-log.txt" --trace "/tmp/out/$name.gadget-trace.txt" \
    --volume /rig/volume.img "$@" 2>"/tmp/out/$name.gadget-err.txt" &
  GADGET_PID=$!
  started=$(now_ms)
  if ! wait_target 60; then
    fail "$name" "the target did not enumerate within 60 s"
    return 1
  fi
  say "TIME $name.enumeration $(($(now_ms) - started))"
  echo "rig: target at port $PORT, $NODE, block ${BLOCK:-none}"
}

gadget_stop() { # scenario
  [ -n "$GADGET_PID" ] || return 0
  kill -TERM "$GADGET_PID" 2>/dev/null
  wait "$GADGET_PID"
  code=$?
  GADGET_PID=
  wait_gone 30 || say "NOTE $1: the target stayed after the gadget ended"
  [ "$code" -eq 0 ] || say "NOTE $1: vane-gadget ended with $code"
  sanitizer_clean "/tmp/out/$1.gadget-err.txt" || fail "$1" "vane-gadget: sanitizer report"
}

sanitizer_clean() { ! grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$1" 2>/dev/null; }

# Runs vane-upgrade with a time limit: sets CODE and ELAPSED (ms).
run_tool() { # scenario seconds [arguments]
  name=$1
  limit=$2
  shift 2
  started=$(now_ms)
  (cd /tmp/work && timeout "$limit" "$TOOL" "$@" >"/tmp/out/$name.out.txt" 2>"/tmp/out/$name.err.txt" </dev/null)
  CODE=$?
  ELAPSED=$(($(now_ms) - started))
  say "TIME $name.tool $ELAPSED"
}

# The same as a non-root member of plugdev.
run_tool_as_user() { # scenario seconds [arguments]
  name=$1
  limit=$2
  shift 2
  started=$(now_ms)
  su vane -s /bin/sh -c "cd /tmp/user && exec timeout $limit $TOOL $*" \
    >"/tmp/out/$name.out.txt" 2>"/tmp/out/$name.err.txt" </dev/null
  CODE=$?
  ELAPSED=$(($(now_ms) - started))
  say "TIME $name.tool $ELAPSED"
}

tool_clean() { sanitizer_clean "/tmp/out/$1.err.txt"; }
out_has() { grep -qF -- "$2" "/tmp/out/$1.out.txt"; }
err_has() { grep -qF -- "$2" "/tmp/out/$1.err.txt"; }

# devtmpfs makes the node before udev has run the rules on it, and a settle
# can end before udev has even seen the event: polls (bounded) until the
# condition holds. False when it never did.
wait_for_udev() { # seconds condition...
  udev_deadline=$(($(now_ms) + $1 * 1000))
  shift
  until "$@"; do
    [ "$(now_ms)" -lt "$udev_deadline" ] || return 1
    udevadm settle --timeout=5
    sleep 0.1
  done
}

# What the rule gives the target: the sg node to plugdev, the disk kept from automounters.
rule_applied() {
  find_target || return 1
  [ "$(stat -c '%G %a' "$NODE")" = "plugdev 660" ] &&
    udevadm info --query=property --name="/dev/${BLOCK:-none}" 2>/dev/null | grep -q '^UDISKS_IGNORE=1'
}

install_rule() {
  mkdir -p /etc/udev/rules.d
  cp /rig/60-vane-upgrade.rules "$RULE"
  udevadm control --reload
}

remove_rule() {
  rm -f "$RULE"
  udevadm control --reload
}

# --- scenarios -------------------------------------------------------------------

# A client we did not write: sg_raw sends the ping and chip-ID CDBs.
scenario_sg_raw() {
  gadget_start sg_raw || return
  # Opcode 06 also looks like an NVMe command to sg_raw: SCSI is said explicitly.
  sg_raw -C 1 -r 8 "$NODE" 06 51 01 00 00 00 00 00 00 00 >/tmp/out/sg_raw.ping.txt 2>&1
  ping_code=$?
  sg_raw -C 1 -r 8 "$NODE" 06 85 00 00 00 00 00 00 00 00 >/tmp/out/sg_raw.chip.txt 2>&1
  chip_code=$?
  sg_raw -C 1 -r 8 "$NODE" 06 99 00 00 00 00 00 00 00 00 >/tmp/out/sg_raw.unknown.txt 2>&1
  # A device reset reaches usb-storage as the Bulk-Only class reset.
  sg_reset --device "$NODE" >/tmp/out/sg_raw.reset.txt 2>&1
  sg_raw -C 1 -r 8 "$NODE" 06 51 01 00 00 00 00 00 00 00 >/tmp/out/sg_raw.ping-after-reset.txt 2>&1
  gadget_stop sg_raw
  if [ $ping_code -ne 0 ] || ! grep -q '49 42 52 00 01 02 00 00' /tmp/out/sg_raw.ping.txt; then
    fail sg_raw "the ping did not answer IBR 1.2"
  elif [ $chip_code -ne 0 ] || ! grep -q '4a 21 00 00 00 00 00 00' /tmp/out/sg_raw.chip.txt; then
    fail sg_raw "the chip ID did not answer 4a 21"
  elif ! grep -q 'Check Condition' /tmp/out/sg_raw.unknown.txt || ! grep -q 'Illegal Request' /tmp/out/sg_raw.unknown.txt ||
    ! grep -q 'Invalid command operation code' /tmp/out/sg_raw.unknown.txt; then
    fail sg_raw "an unknown sub-code did not end in ILLEGAL REQUEST"
  elif ! grep -q 'bulk-only reset' /tmp/out/sg_raw.gadget-log.txt ||
    ! grep -q '49 42 52 00 01 02 00 00' /tmp/out/sg_raw.ping-after-reset.txt; then
    fail sg_raw "no Bulk-Only reset reached the device, or it did not answer after it"
  else
    pass sg_raw "ping and chip ID answered, unknown sub-code refused, answers after a device reset"
  fi
}

# The standard commands, from sg3-utils and from the kernel's disk driver.
scenario_disk() {
  gadget_start disk || return
  sg_inq "$NODE" >/tmp/out/disk.inq.txt 2>&1
  sg_inq -p 0x80 "$NODE" >/tmp/out/disk.serial.txt 2>&1
  sg_readcap "$NODE" >/tmp/out/disk.readcap.txt 2>&1
  sg_turs "$NODE" >/tmp/out/disk.turs.txt 2>&1
  turs_code=$?
  sg_raw -C 1 -r 16 "$NODE" a0 00 00 00 00 00 00 00 00 10 00 00 >/tmp/out/disk.report-luns.txt 2>&1
  volume_same=no
  read_only=
  if [ -n "$BLOCK" ]; then
    dd if="/dev/$BLOCK" bs=65536 2>/dev/null | cmp - /rig/volume.img >/tmp/out/disk.cmp.txt 2>&1 && volume_same=yes
    read_only=$(cat "/sys/block/$BLOCK/ro")
  fi
  gadget_stop disk
  if ! grep -q 'Vendor identification: VANE' /tmp/out/disk.inq.txt ||
    ! grep -q 'Product identification: TX Transmitter' /tmp/out/disk.inq.txt; then
    fail disk "INQUIRY did not name the target"
  elif ! grep -q 'VANE0001' /tmp/out/disk.serial.txt; then
    fail disk "the unit serial number page is wrong"
  elif ! grep -q 'Last LBA=2047' /tmp/out/disk.readcap.txt; then
    fail disk "READ CAPACITY is wrong"
  elif [ $turs_code -ne 0 ]; then
    fail disk "TEST UNIT READY failed"
  elif ! grep -q 'Illegal Request' /tmp/out/disk.report-luns.txt; then
    fail disk "an unknown opcode was not refused with ILLEGAL REQUEST"
  elif [ -z "$BLOCK" ]; then
    fail disk "the disk driver did not attach a block device"
  elif [ "$volume_same" != yes ]; then
    fail disk "the volume read through /dev/$BLOCK differs from the image"
  elif [ "$read_only" != 1 ]; then
    fail disk "the write-protected volume is not read-only"
  else
    pass disk "INQUIRY, VPD, READ CAPACITY, TUR, READ(10) of /dev/$BLOCK, write protect"
  fi
}

# The udev rule gives a plugdev member access; without it the permission message.
scenario_plugdev() {
  remove_rule
  gadget_start plugdev-norule || return
  norule_group=$(stat -c %G "$NODE")
  run_tool_as_user plugdev-norule 120 version
  norule_code=$CODE
  gadget_stop plugdev-norule
  install_rule
  gadget_start plugdev-rule || return
  wait_for_udev 20 rule_applied || say "NOTE plugdev: the rule's effects did not show within 20 s"
  rule_group=$(stat -c '%G %a' "$NODE")
  udisks=$(udevadm info --query=property --name="/dev/${BLOCK:-none}" 2>/dev/null | grep -c '^UDISKS_IGNORE=1')
  run_tool_as_user plugdev-rule 120 version
  rule_code=$CODE
  gadget_stop plugdev-rule
  if [ "$norule_group" = plugdev ]; then
    fail plugdev "without the rule the node belongs to plugdev"
  elif [ $norule_code -eq 0 ] || ! err_has plugdev-norule "No permission to open" ||
    ! err_has plugdev-norule "60-vane-upgrade.rules"; then
    fail plugdev "without the rule: exit $norule_code and no permission message"
  elif [ "$rule_group" != "plugdev 660" ]; then
    fail plugdev "with the rule the node is '$rule_group', not 'plugdev 660'"
  elif [ $rule_code -ne 0 ] || ! out_has plugdev-rule "Current version:"; then
    fail plugdev "with the rule the plugdev member got exit $rule_code"
  elif [ "$udisks" != 1 ]; then
    fail plugdev "the rule did not keep automounters off the volume"
  elif ! tool_clean plugdev-norule || ! tool_clean plugdev-rule; then
    fail plugdev "sanitizer report"
  else
    pass plugdev "without the rule: exit $norule_code with the message; with it: exit 0"
  fi
}

scenario_list() {
  gadget_start list || return
  run_tool list 60 list
  gadget_stop list
  if [ $CODE -ne 0 ]; then
    fail list "exit $CODE"
  elif ! grep -F "$PORT" /tmp/out/list.out.txt | grep -F "$NODE" | grep -qF "Vane_TX_V1020"; then
    fail list "no line with $PORT, $NODE and the version"
  elif ! tool_clean list; then
    fail list "sanitizer report"
  else
    pass list "$(head -n 1 /tmp/out/list.out.txt)"
  fi
}

# The whole upgrade: boot ROM, flash loader, re-enumeration, download.
scenario_upgrade() {
  rm -f /tmp/flash.bin
  gadget_start upgrade --flash /tmp/flash.bin || return
  disconnects=$(dmesg | grep -c 'USB disconnect')
  first_node=$NODE
  run_tool upgrade 300 --trace /tmp/out/upgrade.tool-trace.txt --log /tmp/out/upgrade.tool-log.txt upgrade
  say "TIME upgrade $ELAPSED"
  disconnects_after=$(dmesg | grep -c 'USB disconnect')
  find_target
  gadget_stop upgrade
  size=$(stat -c %s "$IMAGE")
  if [ $CODE -ne 0 ] || ! out_has upgrade "Complete!"; then
    fail upgrade "exit $CODE, no Complete!"
  elif ! grep -q 'the target left the bus' /tmp/out/upgrade.gadget-log.txt ||
    ! grep -q 'the target is back (state 6)' /tmp/out/upgrade.gadget-log.txt; then
    fail upgrade "the target did not leave and come back in the loader's state"
  elif [ "$disconnects_after" -le "$disconnects" ]; then
    fail upgrade "the host saw no removal"
  elif ! cmp -n "$size" /tmp/flash.bin "$IMAGE" >/dev/null; then
    fail upgrade "the target's flash does not hold the image"
  elif ! tool_clean upgrade; then
    fail upgrade "sanitizer report"
  else
    UPGRADED=1
    pass upgrade "Complete! in $ELAPSED ms; $first_node, then $NODE after the re-enumeration"
  fi
}

scenario_version() {
  expected=Vane_TX_V1020
  [ $UPGRADED -eq 1 ] && expected=Vane_TX_V1030
  gadget_start version --flash /tmp/flash.bin || return
  run_tool version 60 version
  gadget_stop version
  if [ $CODE -ne 0 ] || ! out_has version "Current version:$expected"; then
    fail version "exit $CODE, no 'Current version:$expected'"
  elif ! tool_clean version; then
    fail version "sanitizer report"
  else
    pass version "Current version:$expected"
  fi
}

scenario_dump() {
  size=$(stat -c %s "$IMAGE")
  gadget_start dump --flash /tmp/flash.bin || return
  run_tool dump 300 --trace /tmp/out/dump.tool-trace.txt dump "$size" /tmp/dump.bin
  gadget_stop dump
  if [ $CODE -ne 0 ]; then
    fail dump "exit $CODE"
  elif [ "$(stat -c %s /tmp/dump.bin 2>/dev/null)" != "$size" ]; then
    fail dump "the dump is not $size bytes"
  elif ! cmp -n "$size" /tmp/dump.bin /tmp/flash.bin >/dev/null; then
    fail dump "the dump differs from the target's flash"
  elif [ $UPGRADED -eq 1 ] && ! cmp /tmp/dump.bin "$IMAGE" >/dev/null; then
    fail dump "the dump differs from the image"
  elif ! tool_clean dump; then
    fail dump "sanitizer report"
  else
    pass dump "$size bytes equal to the flash in $ELAPSED ms"
  fi
}

# The flash loader starts and the target never comes back: exit 1, in bounded time.
scenario_no_return() {
  gadget_start no_return --never-return || return
  run_tool no_return 240 upgrade
  gadget_stop no_return
  if [ $CODE -ne 1 ]; then
    fail no_return "exit $CODE after $ELAPSED ms, not 1"
  elif [ "$ELAPSED" -gt 180000 ]; then
    fail no_return "took $ELAPSED ms"
  elif ! grep -q 'the target left the bus' /tmp/out/no_return.gadget-log.txt ||
    grep -q 'the target is back' /tmp/out/no_return.gadget-log.txt; then
    fail no_return "the target did not stay away"
  elif ! tool_clean no_return; then
    fail no_return "sanitizer report"
  else
    pass no_return "exit 1 after $ELAPSED ms"
  fi
}

# A command the target cannot carry out: a phase error (after a halt when the
# host waits for data); Linux resets the device's port and the job fails; the
# next job on the same device works. Once on data-out, once on data-in.
port_resets() { dmesg | grep -c 'reset high-speed USB device'; }
scenario_phase_error() {
  resets=$(port_resets)
  # The 9th command writes the flash loader to SRAM (data-out).
  gadget_start phase_error --fail-command 9 || return
  run_tool phase_error 120 --trace /tmp/out/phase_error.out-trace.txt upgrade
  out_code=$CODE
  out_resets=$(($(port_resets) - resets))
  run_tool phase_error.out-after 60 version
  out_after=$CODE
  gadget_stop phase_error
  mv /tmp/out/phase_error.gadget-log.txt /tmp/out/phase_error.out-gadget-log.txt
  # The 3rd command reads the identity block's address reply (data-in).
  resets=$(port_resets)
  gadget_start phase_error --fail-command 3 || return
  run_tool phase_error.in 60 --trace /tmp/out/phase_error.in-trace.txt version
  in_code=$CODE
  in_resets=$(($(port_resets) - resets))
  run_tool phase_error.in-after 60 version
  in_after=$CODE
  gadget_stop phase_error
  if [ $out_code -ne 1 ] || [ "$(sed -n 9p /tmp/out/phase_error.out-trace.txt | awk '{print $2, $NF}')" != "72 fail" ]; then
    fail phase_error "data-out: exit $out_code; the 9th command did not fail at the transport"
  elif [ "$(sed -n 3p /tmp/out/phase_error.in-trace.txt | awk '{print $2, $NF}')" != "55 fail" ]; then
    fail phase_error "data-in: the 3rd command did not fail at the transport (exit $in_code)"
  elif [ "$out_resets" -lt 1 ] || [ "$in_resets" -lt 1 ]; then
    fail phase_error "the host did not reset the device after the phase errors ($out_resets, $in_resets)"
  elif [ $out_after -ne 0 ] || [ $in_after -ne 0 ] || ! out_has phase_error.in-after "Current version:"; then
    fail phase_error "the device did not serve the next job (exits $out_after, $in_after)"
  elif ! tool_clean phase_error || ! tool_clean phase_error.in; then
    fail phase_error "sanitizer report"
  else
    pass phase_error "data-out: exit $out_code, data-in: exit $in_code; port reset, then the next job worked"
  fi
}

# Three targets at once, each on its own controller: upgrade --all follows
# each at its port through its re-enumeration; every flash ends up holding
# the image, and with a records store three records say completed.
count_targets() {
  n=0
  for usb in /sys/bus/usb/devices/*; do
    [ -f "$usb/idVendor" ] || continue
    [ "$(cat "$usb/idVendor")" = 0416 ] && [ "$(cat "$usb/idProduct")" = b190 ] || continue
    for sg in "$usb"/*/host*/target*/*/scsi_generic/sg*; do
      [ -e "$sg" ] && n=$((n + 1)) && break
    done
  done
  echo $n
}
scenario_gang() {
  gang_pids=''
  for i in 0 1 2; do
    rm -f /tmp/gang$i.bin
    "$GADGET" --name gang$i --ffs /dev/ffs-gang$i --udc dummy_udc.$i --flash /tmp/gang$i.bin \
      --log /tmp/out/gang.gadget$i-log.txt --volume /rig/volume.img 2>/tmp/out/gang.gadget$i-err.txt &
    gang_pids="$gang_pids $!"
  done
  deadline=$(($(now_ms) + 60000))
  while [ "$(count_targets)" -lt 3 ] && [ "$(now_ms)" -lt "$deadline" ]; do sleep 0.2; done
  udevadm settle --timeout=30
  found=$(count_targets)
  records=''
  "$TOOL" --help 2>/dev/null | grep -q -- '--records' && records='--records /tmp/out/gang.records.db'
  [ "$found" -eq 3 ] && run_tool gang 400 --yes $records upgrade --all
  for pid in $gang_pids; do kill -TERM "$pid" 2>/dev/null; done
  for pid in $gang_pids; do wait "$pid"; done
  completed_records=3
  if [ -n "$records" ] && [ "$found" -eq 3 ]; then
    (cd /tmp/work && "$TOOL" --records /tmp/out/gang.records.db records >/tmp/out/gang.records.txt 2>&1)
    completed_records=$(grep -c completed /tmp/out/gang.records.txt)
  fi
  size=$(stat -c %s "$IMAGE")
  flashes=0
  for i in 0 1 2; do cmp -n "$size" /tmp/gang$i.bin "$IMAGE" >/dev/null 2>&1 && flashes=$((flashes + 1)); done
  if [ "$found" -ne 3 ]; then
    fail gang "$found targets enumerated, not 3"
  elif [ $CODE -ne 0 ] || [ "$(grep -Ec 'completed +[0-9]+:[0-9][0-9]$' /tmp/out/gang.out.txt)" -ne 3 ]; then
    fail gang "exit $CODE, not three completed targets"
  elif [ $flashes -ne 3 ]; then
    fail gang "$flashes of 3 flashes hold the image"
  elif [ "$completed_records" -lt 3 ]; then
    fail gang "$completed_records records say completed, not 3"
  elif ! tool_clean gang; then
    fail gang "sanitizer report"
  else
    pass gang "3 targets completed at once in $ELAPSED ms${records:+, 3 records}"
  fi
}

run_scenarios() {
  scenarios=$(sed -n 's/.*rig\.scenarios=\([^ ]*\).*/\1/p' /proc/cmdline | tr ',' ' ')
  [ -f /rig/60-vane-upgrade.rules ] && install_rule
  for scenario in $scenarios; do
    echo "rig: --- $scenario"
    case $scenario in
    sg_raw | disk | plugdev | list | upgrade | version | dump | no_return | phase_error | gang) "scenario_$scenario" ;;
    *) fail "$scenario" "no such scenario" ;;
    esac
    [ -n "$GADGET_PID" ] && gadget_stop "$scenario"
    send_scenario_files "$scenario"
    case $scenario in plugdev) send_scenario_files plugdev-norule; send_scenario_files plugdev-rule ;; esac
  done
}

run_scenarios
dmesg >/tmp/out/dmesg.txt
send_file dmesg.txt /tmp/out/dmesg.txt
say "TIME total $(now_ms)"
say "RIG DONE $FAILURES"
sync
poweroff -f
