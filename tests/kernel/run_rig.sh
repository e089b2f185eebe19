#!/usr/bin/env bash
# The kernel rig: boots Debian's kernel under qemu (software emulation) with
# an initramfs assembled here from Debian's packages and the project's
# programs, presents the emulated target as a USB gadget on dummy_hcd and runs
# vane-upgrade against it through the real USB, SCSI, sg and udev stack.
#
# Usage: run_rig.sh [SCENARIO...]   (default: all, in the order below)
#   scenarios: sg_raw disk plugdev list upgrade version dump no_return phase_error gang
# Environment:
#   VANE_UPGRADE, VANE_GADGET, MAKE_DEMO_IMAGES   the programs (required)
#   RIG_WORK      cache and results folder (default: kernel-rig beside vane-upgrade)
#   RIG_TIMEOUT   seconds the machine may run (default 600)
#   RIG_KEEP=1    keep the run folder's staging trees
# Debian packages are fetched with apt-get on the first run and kept in
# RIG_WORK/cache; qemu-system-x86 is installed on the host when missing.
set -euo pipefail

ALL_SCENARIOS=(sg_raw disk plugdev list upgrade version dump no_return phase_error gang)
MODULES=(usb-common usbcore udc-core scsi_common scsi_mod sg sd_mod usb-storage configfs libcomposite usb_f_fs dummy_hcd)
# Bump when the base initramfs is built differently.
BASE_LAYOUT=6

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
: "${VANE_UPGRADE:?VANE_UPGRADE must name the vane-upgrade program}"
: "${VANE_GADGET:?VANE_GADGET must name the vane-gadget program}"
: "${MAKE_DEMO_IMAGES:?MAKE_DEMO_IMAGES must name the make_demo_images program}"
work=${RIG_WORK:-$(dirname "$VANE_UPGRADE")/kernel-rig}
timeout_s=${RIG_TIMEOUT:-600}
scenarios=("$@")
[ ${#scenarios[@]} -gt 0 ] || scenarios=("${ALL_SCENARIOS[@]}")

cache=$work/cache
run=$work/run
qemu_pid=
cleanup() {
  local status=$?
  if [ -n "$qemu_pid" ] && kill -0 "$qemu_pid" 2>/dev/null; then
    kill "$qemu_pid" 2>/dev/null || true
    wait "$qemu_pid" 2>/dev/null || true
  fi
  if [ "${RIG_KEEP:-0}" != 1 ]; then rm -rf "$run/stage"; fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

log() { echo "rig: $*"; }
note() { echo "rig: $*" >&2; } # inside command substitutions
die() {
  echo "rig: FAIL: $*" >&2
  exit 1
}
elapsed_since() { echo $(($(date +%s%N) / 1000000 - $1)); }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# --- host tools and packages ---------------------------------------------------------

apt_lists_ready=0
apt_ready() {
  [ $apt_lists_ready -eq 1 ] && return
  if ! apt-cache show busybox-static >/dev/null 2>&1; then
    note "apt-get update"
    apt-get update -qq >/dev/null || die "apt-get update failed"
  fi
  apt_lists_ready=1
}

ensure_qemu() {
  command -v qemu-system-x86_64 >/dev/null && return
  [ "$(id -u)" -eq 0 ] || die "qemu-system-x86_64 is missing (apt-get install qemu-system-x86 as root)"
  apt_ready
  log "installing qemu-system-x86"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-system-x86 >/dev/null ||
    die "cannot install qemu-system-x86"
}

# Downloads a package's .deb into the cache unless it is there.
fetch_deb() { # package
  local found
  found=$(ls "$cache/debs/$1"_*.deb 2>/dev/null | head -n 1 || true)
  if [ -z "$found" ]; then
    apt_ready
    note "downloading $1"
    (cd "$cache/debs" && apt-get download -qq -o APT::Sandbox::User=root "$1" >/dev/null) || die "cannot download $1"
    found=$(ls "$cache/debs/$1"_*.deb | head -n 1)
  fi
  echo "$found"
}

# Names the kernel package linux-image-amd64 stands for (from the cache when offline).
kernel_package() {
  local name
  name=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}' || true)
  if [ -z "$name" ]; then
    apt_ready
    name=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}' || true)
  fi
  [ -n "$name" ] || name=$(ls "$cache/debs" 2>/dev/null | sed -n 's/^\(linux-image-[0-9][^_]*\)_.*/\1/p' | tail -n 1)
  [ -n "$name" ] || die "cannot tell which kernel package linux-image-amd64 is"
  echo "$name"
}

sgutils_package() {
  local name
  name=$(apt-cache depends sg3-utils 2>/dev/null | awk '/Depends: libsgutils2/ {print $2; exit}' || true)
  [ -n "$name" ] || name=$(ls "$cache/debs" 2>/dev/null | sed -n 's/^\(libsgutils2-[^_]*\)_.*/\1/p' | head -n 1)
  [ -n "$name" ] || { apt_ready; name=$(apt-cache depends sg3-utils | awk '/Depends: libsgutils2/ {print $2; exit}'); }
  echo "$name"
}

# --- staging helpers ---------------------------------------------------------------------

# A merged-/usr tree, like the host's, so library paths from ldd hold as they are.
make_skeleton() { # dir
  mkdir -p "$1"/usr/bin "$1"/usr/sbin "$1"/usr/lib "$1"/usr/lib64 "$1"/etc "$1"/proc "$1"/sys "$1"/dev "$1"/run "$1"/tmp "$1"/root
  ln -sfn usr/bin "$1/bin"
  ln -sfn usr/sbin "$1/sbin"
  ln -sfn usr/lib "$1/lib"
  ln -sfn usr/lib64 "$1/lib64"
}

# Copies a program and the shared libraries ldd finds for it (libraries of an
# extracted package first).
copy_with_libraries() { # stage source destination [extracted root]
  local stage=$1 source=$2 destination=$3 extracted=${4:-} libpath=''
  [ -n "$extracted" ] && libpath=$extracted/usr/lib/x86_64-linux-gnu:$extracted/lib/x86_64-linux-gnu
  mkdir -p "$stage$(dirname "$destination")"
  cp -L "$source" "$stage$destination"
  local line lib
  while read -r line; do
    case $line in
    *"not found"*) die "$source needs a library the host does not have: $line" ;;
    *"=> /"*) lib=${line#*=> } ;;
    /*) lib=$line ;;
    *) continue ;;
    esac
    lib=${lib%% (*}
    # A library of an extracted package goes where the package installs it.
    local target=$lib
    [ -n "$extracted" ] && target=${lib#"$extracted"}
    [ -e "$stage$target" ] && continue
    mkdir -p "$stage$(dirname "$target")"
    cp -L "$lib" "$stage$target"
  done < <(LD_LIBRARY_PATH=$libpath ldd "$source" 2>/dev/null || true)
}

make_cpio() { # stage output
  (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | "$busybox" cpio -o -H newc 2>/dev/null) | gzip -1 >"$2.tmp"
  mv "$2.tmp" "$2"
}

# --- the base initramfs: Debian's packages (cached) ----------------------------------------

build_base() {
  local root=$cache/root stage=$run/stage/base
  rm -rf "$root" "$stage"
  mkdir -p "$root"
  local deb
  for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root"; done
  busybox=$root/bin/busybox
  make_skeleton "$stage"
  cp "$busybox" "$stage/usr/bin/busybox"
  ln -s busybox "$stage/usr/bin/sh" # the interpreter of /init; the other applets are linked at boot

  # Kernel modules: the wanted ones and everything modules.dep says they need.
  local modules=$root/lib/modules/$kernel_version
  "$busybox" depmod -b "$root" "$kernel_version" || die "depmod failed"
  local wanted=() name file dependency
  for name in "${MODULES[@]}"; do
    file=$(grep -E "/${name//[-_]/[-_]}\.ko(\.[a-z]+)?:" "$modules/modules.dep" | head -n 1 | cut -d: -f1)
    [ -n "$file" ] || die "module $name is not in $kernel_package"
    wanted+=("$file")
    for dependency in $(grep -E "^$file:" "$modules/modules.dep" | cut -d: -f2); do wanted+=("$dependency"); done
  done
  for file in $(printf '%s\n' "${wanted[@]}" | sort -u); do
    mkdir -p "$stage/lib/modules/$kernel_version/$(dirname "$file")"
    cp "$modules/$file" "$stage/lib/modules/$kernel_version/$file"
  done
  cp "$modules"/modules.builtin "$modules"/modules.order "$stage/lib/modules/$kernel_version/" 2>/dev/null || true
  "$busybox" depmod -b "$stage" "$kernel_version" || die "depmod of the staged modules failed"

  # systemd-udevd with Debian's rules and helpers; sg3-utils.
  copy_with_libraries "$stage" "$root/bin/udevadm" /usr/bin/udevadm "$root"
  mkdir -p "$stage/lib/systemd"
  ln -sfn /usr/bin/udevadm "$stage/lib/systemd/systemd-udevd"
  mkdir -p "$stage/lib/udev"
  cp -r "$root/lib/udev/rules.d" "$stage/lib/udev/"
  for file in "$root"/lib/udev/*_id; do copy_with_libraries "$stage" "$file" "/lib/udev/${file##*/}" "$root"; done
  for name in sg_raw sg_inq sg_readcap sg_turs sg_reset; do
    copy_with_libraries "$stage" "$root/usr/bin/$name" "/usr/bin/$name" "$root"
  done
  make_cpio "$stage" "$base_cpio"
}

# --- the project's part (every run) ------------------------------------------------------------

build_project() {
  local stage=$run/stage/project
  rm -rf "$stage"
  make_skeleton "$stage"
  rmdir "$stage/proc" "$stage/sys" "$stage/dev" "$stage/run" "$stage/tmp" "$stage/root"
  cp "$here/guest_init.sh" "$stage/init"
  chmod 755 "$stage/init"
  local program
  for program in "$VANE_UPGRADE" "$VANE_GADGET"; do
    copy_with_libraries "$stage" "$program" "/rig/bin/$(basename "$program")"
    # Debug sections make the archive large and add nothing in the machine.
    strip --strip-debug "$stage/rig/bin/$(basename "$program")"
  done
  mkdir -p "$stage/rig/work"
  cp -r "$run/Data" "$stage/rig/work/"
  cp "$run/volume.img" "$stage/rig/volume.img"
  [ -f "$repo/packaging/60-vane-upgrade.rules" ] && cp "$repo/packaging/60-vane-upgrade.rules" "$stage/rig/"
  cat >"$stage/etc/passwd" <<'EOF'
root:x:0:0:root:/root:/bin/sh
vane:x:1000:1000:Vane operator:/home/vane:/bin/sh
EOF
  # The groups Debian's udev rules name, and plugdev with the operator in it.
  cat >"$stage/etc/group" <<'EOF'
root:x:0:
tty:x:5:
disk:x:6:
lp:x:7:
kmem:x:15:
dialout:x:20:
cdrom:x:24:
tape:x:26:
audio:x:29:
video:x:44:
plugdev:x:46:vane
input:x:101:
kvm:x:102:
render:x:103:
sgx:x:104:
vane:x:1000:
EOF
  printf 'passwd: files\ngroup: files\nshadow: files\n' >"$stage/etc/nsswitch.conf"
  make_cpio "$stage" "$run/project.cpio.gz"
}

# A volume whose every sector says which it is (no partition table).
make_volume() { # file
  local padding
  padding=$(printf '%485s' '') # 27 characters of text, 512 in all
  # shellcheck disable=SC2046 # one sector per number
  printf "VANE-VOLUME-SECTOR-%08d$padding" $(seq 0 2047) | tr ' ' '\0' >"$1"
}

# --- results ------------------------------------------------------------------------------------

# Splits the guest's result stream into its lines and files.
unpack_results() { # results guest-dir
  local name='' line
  : >"$2/lines.txt"
  while IFS= read -r line; do
    line=${line%$'\r'}
    if [ -n "$name" ]; then
      if [ "$line" = "END FILE" ]; then
        base64 -d <"$2/$name.b64" >"$2/$name" 2>/dev/null || echo "FILE-CORRUPT $name" >>"$2/lines.txt"
        rm -f "$2/$name.b64"
        name=
      else
        echo "$line" >>"$2/$name.b64"
      fi
    elif [[ $line == "FILE "* ]]; then
      name=${line#FILE }
      name=${name//\//_}
      : >"$2/$name.b64"
    else
      echo "$line" >>"$2/lines.txt"
    fi
  done <"$1"
}

# CDB, direction and length of each line of a wire trace.
wire_commands() { awk 'NF >= 12 {print $1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12}' "$1"; }
without_status_polls() { grep -v '^06 89 ' || true; }
# In the in-process run a command that failed at the transport never reached
# the target (it was off the bus): no wire would have carried it.
reached_target() { grep -v ' fail$' "$1" || true; }

# --- main -------------------------------------------------------------------------------------------

for program in "$VANE_UPGRADE" "$VANE_GADGET" "$MAKE_DEMO_IMAGES"; do
  [ -x "$program" ] || die "$program is not built"
done
for scenario in "${scenarios[@]}"; do
  [[ " ${ALL_SCENARIOS[*]} " == *" $scenario "* ]] || die "no scenario '$scenario' (known: ${ALL_SCENARIOS[*]})"
done
mkdir -p "$cache/debs"
rm -rf "$run"
mkdir -p "$run/guest" "$run/reference"

prepare_start=$(now_ms)
ensure_qemu
kernel_package=$(kernel_package)
kernel_version=${kernel_package#linux-image-}
debs=("$(fetch_deb "$kernel_package")" "$(fetch_deb busybox-static)" "$(fetch_deb sg3-utils)"
  "$(fetch_deb "$(sgutils_package)")" "$(fetch_deb udev)")
for deb in "${debs[@]}"; do [ -f "$deb" ] || die "a Debian package could not be fetched"; done
base_key=$( (echo "$BASE_LAYOUT ${MODULES[*]}"; for deb in "${debs[@]}"; do basename "$deb"; done) | sha256sum | cut -c1-16)
base_cpio=$cache/base-$base_key.cpio.gz
busybox=$cache/root/bin/busybox
if [ ! -f "$base_cpio" ] || [ ! -x "$busybox" ]; then
  log "building the base initramfs ($kernel_package)"
  rm -f "$cache"/base-*.cpio.gz
  build_base
fi
vmlinuz=$cache/root/boot/vmlinuz-$kernel_version
[ -f "$vmlinuz" ] || die "no kernel image at $vmlinuz"

"$MAKE_DEMO_IMAGES" "$run/Data" >/dev/null || die "make_demo_images failed"
make_volume "$run/volume.img"
build_project
cat "$base_cpio" "$run/project.cpio.gz" >"$run/initramfs.cpio.gz"
log "prepared in $(elapsed_since "$prepare_start") ms"

# The in-process run of the same upgrade: the trace the machine's must equal.
(cd "$run/reference" && cp -r "$run/Data" . &&
  ASAN_OPTIONS=${ASAN_OPTIONS:-}${ASAN_OPTIONS:+:}verify_asan_link_order=0 \
    timeout 120 "$VANE_UPGRADE" --emulate --emulate-flash flash.bin --trace trace.txt upgrade \
    >out.txt 2>err.txt </dev/null) || die "the in-process emulated upgrade failed (see $run/reference)"

scenario_list=$(IFS=,; echo "${scenarios[*]}")
log "booting $kernel_package under qemu (TCG); scenarios: ${scenarios[*]}"
boot_start=$(now_ms)
: >"$run/results.txt"
timeout --kill-after=10 "$timeout_s" qemu-system-x86_64 \
  -accel tcg -machine q35 -cpu max -smp 2 -m 1024 \
  -nographic -monitor none -no-reboot \
  -serial "file:$run/console.log" -serial "file:$run/results.txt" \
  -kernel "$vmlinuz" -initrd "$run/initramfs.cpio.gz" \
  -append "console=ttyS0 rdinit=/init panic=-1 rig.scenarios=$scenario_list" \
  </dev/null >"$run/qemu.log" 2>&1 &
qemu_pid=$!
boot_ms=
while kill -0 "$qemu_pid" 2>/dev/null; do
  if [ -z "$boot_ms" ] && grep -q '^TIME stacks_ready' "$run/results.txt" 2>/dev/null; then
    boot_ms=$(elapsed_since "$boot_start")
    log "the machine is up (stacks and udev ready) after $boot_ms ms"
  fi
  sleep 0.2
done
qemu_status=0
wait "$qemu_pid" || qemu_status=$?
qemu_pid=
machine_ms=$(elapsed_since "$boot_start")
log "the machine ran $machine_ms ms (qemu status $qemu_status)"

unpack_results "$run/results.txt" "$run/guest"
lines=$run/guest/lines.txt
passed=0
failed=0
report() { # name PASS|FAIL detail
  printf 'rig: %-14s %s  %s\n' "$1" "$2" "$3"
  if [ "$2" = PASS ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
}
for scenario in "${scenarios[@]}"; do
  result=$(grep -m1 "^SCENARIO $scenario " "$lines" || true)
  if [ -z "$result" ]; then
    report "$scenario" FAIL "no result from the machine"
  else
    read -r _ _ verdict detail <<<"$result"
    report "$scenario" "$verdict" "$detail"
  fi
done

# The wire traces of the upgrade: the tool's (through SG_IO), the target's
# (behind FunctionFS) and the in-process run's agree command for command.
if [[ " ${scenarios[*]} " == *" upgrade "* ]]; then
  tool_trace=$run/guest/upgrade.tool-trace.txt
  target_trace=$run/guest/upgrade.gadget-trace.txt
  if [ ! -s "$tool_trace" ] || [ ! -s "$target_trace" ]; then
    report traces FAIL "the machine sent no wire traces"
  elif ! diff <(wire_commands "$tool_trace") <(wire_commands "$target_trace") >"$run/traces.tool-target.diff"; then
    report traces FAIL "the tool's and the target's traces differ ($run/traces.tool-target.diff)"
  elif grep -qv ' ok$' "$tool_trace"; then
    report traces FAIL "a command of the upgrade failed at the transport"
  elif ! diff <(wire_commands "$tool_trace" | without_status_polls) \
    <(reached_target "$run/reference/trace.txt" | wire_commands /dev/stdin | without_status_polls) \
    >"$run/traces.tool-reference.diff"; then
    report traces FAIL "the machine's trace differs from the in-process run ($run/traces.tool-reference.diff)"
  else
    report traces PASS "$(wc -l <"$tool_trace") commands agree: tool, target and in-process run"
  fi
fi

grep '^TIME ' "$lines" | sed 's/^/rig: /' || true
[ -n "$boot_ms" ] && log "boot to ready: $boot_ms ms wall"
if ! grep -q '^RIG DONE' "$lines"; then
  report machine FAIL "the machine did not finish (qemu status $qemu_status); console tail:"
  tail -n 40 "$run/console.log" | sed 's/^/rig: | /'
fi
if [ $failed -gt 0 ]; then
  log "console: $run/console.log, files from the machine: $run/guest"
fi
echo "kernel rig: $passed passed, $failed failed"
[ $failed -eq 0 ]
