#!/usr/bin/env bash
# The Debian package as a user gets it: the release preset is configured and
# built in a folder of its own, cpack writes the .deb, lintian finds no error,
# and the program unpacked into an empty folder runs, documents and completes
# what it offers, and upgrades the emulated target.
# Usage: package_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=$1
work=$2
build="$work/build"
mkdir -p "$work"

fail() { echo "FAIL: $*"; exit 1; }

if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="$source_dir"
fi
cmake -S "$source_dir" -B "$build" --preset release >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure"; }
cmake --build "$build" -j"$(nproc)" >"$work/build.log" 2>&1 || { tail -50 "$work/build.log"; fail "build"; }

rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb="$build/vane-upgrade_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $deb (found: $(ls "$build"/*.deb 2>/dev/null))"

contents=$(dpkg-deb -c "$deb")
for path in usr/bin/vane-upgrade usr/lib/udev/rules.d/60-vane-upgrade.rules usr/share/man/man1/vane-upgrade.1.gz \
            usr/share/bash-completion/completions/vane-upgrade usr/share/doc/vane-upgrade/copyright \
            usr/share/doc/vane-upgrade/README.md usr/share/doc/vane-upgrade/changelog.gz; do
  grep -q " \./$path\$" <<<"$contents" || fail "$path is not in the package"
done
grep -q "usr/local\|/etc/" <<<"$contents" && fail "files outside /usr: $(grep 'usr/local\|/etc/' <<<"$contents")"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q "libudev1" <<<"$depends" || fail "Depends lacks libudev1: $depends"

lintian --fail-on error --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log"; fail "lintian"; }
grep '^[EW]:' "$work/lintian.log" || true

root="$work/root"
rm -rf "$root"
mkdir -p "$root"
dpkg-deb -x "$deb" "$root"
program="$root/usr/bin/vane-upgrade"
readelf -S "$program" | grep -q "\.symtab" && fail "the program is not stripped"

help=$("$program" --help) || fail "--help"
if grep -q -- "--version" <<<"$help"; then
  shown=$("$program" --version) || fail "--version"
  grep -q "$version" <<<"$shown" || fail "--version shows '$shown', not $version"
fi

# Every command and option that the program lists is in the manual page and
# in the completion.
commands=$(sed -n '/^Subcommands:/,/^$/p' <<<"$help" | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$commands" ] || fail "no commands in --help"
for c in $commands; do "$program" "$c" --help >/dev/null || fail "$c --help"; done
listed=$( { echo "$help"; for c in $commands; do "$program" "$c" --help; done; } |
          grep -oE -- '(^|[ ,])--[a-z][a-z-]*' | tr -d ' ,' | sort -u)
manual=$(zcat "$root/usr/share/man/man1/vane-upgrade.1.gz" | sed 's/\\f[BIRP]//g; s/\\-/-/g')
completion="$root/usr/share/bash-completion/completions/vane-upgrade"
bash -n "$completion" || fail "the completion is no valid bash"
for word in $commands $listed; do
  grep -qE -- "(^|[^a-z-])$word([^a-z-]|\$)" <<<"$manual" || fail "the manual page lacks $word"
  grep -qE -- "(^|[^a-z-])$word([^a-z-]|\$)" "$completion" || fail "the completion lacks $word"
done
# The completion as bash runs it: an option's value is not taken for the
# command, and a command's own options follow it.
if [ -f /usr/share/bash-completion/bash_completion ]; then
  complete_line() {
    bash -c 'source /usr/share/bash-completion/bash_completion; source "$1"; shift
             COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
             _vane_upgrade; echo "${COMPREPLY[*]}"' _ "$completion" "$@" 2>/dev/null
  }
  offered=$(complete_line vane-upgrade --log upgrade.log "")
  for c in $commands; do
    grep -qw -- "$c" <<<"$offered" || fail "after --log FILE the completion offers '$offered', not $c"
  done
  complete_line vane-upgrade --emulate upgrade --serial-o | grep -qx -- "--serial-offset" ||
    fail "upgrade --serial-o completes to '$(complete_line vane-upgrade --emulate upgrade --serial-o)'"
fi
if command -v man >/dev/null; then
  warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/vane-upgrade.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the manual page does not render cleanly: $warnings"
fi

# An upgrade of the emulated target with the unpacked program.
demo="$work/demo"
rm -rf "$demo"
mkdir -p "$demo"
(cd "$demo" && "$build/make_demo_images" Data >/dev/null) || fail "make_demo_images"
status=0
(cd "$demo" && "$program" --emulate --yes upgrade) >"$work/upgrade.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || { cat "$work/upgrade.log"; fail "the emulated upgrade exited $status"; }
grep -q "Complete!" "$work/upgrade.log" || { cat "$work/upgrade.log"; fail "no Complete! in the upgrade"; }

echo "PASS: $(basename "$deb"), $(wc -l <<<"$contents") entries, Depends: $depends"

# The desktop package, from the same cpack run, when the build has the program.
[ -x "$build/vane-upgrade-gui" ] || exit 0
grep -qi "qt" <<<"$depends" && fail "the console package depends on Qt: $depends"
gui_deb="$build/vane-upgrade-gui_${version}_amd64.deb"
[ -f "$gui_deb" ] || fail "no $gui_deb (found: $(ls "$build"/*.deb))"
gui_contents=$(dpkg-deb -c "$gui_deb")
for path in usr/bin/vane-upgrade-gui usr/share/applications/vane-upgrade-gui.desktop \
            usr/share/metainfo/invalid.vane_transmitters.vane_upgrade_gui.metainfo.xml \
            usr/share/man/man1/vane-upgrade-gui.1.gz usr/share/doc/vane-upgrade-gui/copyright \
            usr/share/doc/vane-upgrade-gui/changelog.gz; do
  grep -q " \./$path\$" <<<"$gui_contents" || fail "$path is not in the desktop package"
done
for size in 16 24 32 48 64 128 256; do
  grep -q " \./usr/share/icons/hicolor/${size}x${size}/apps/vane-upgrade-gui.png\$" <<<"$gui_contents" ||
    fail "no ${size}x${size} icon in the desktop package"
done
gui_depends=$(dpkg-deb -f "$gui_deb" Depends)
for wanted in "vane-upgrade (= $version)" libqt6widgets6 fonts-liberation2; do
  grep -qF "$wanted" <<<"$gui_depends" || fail "the desktop package's Depends lacks $wanted: $gui_depends"
done
lintian --fail-on error,warning --no-tag-display-limit "$gui_deb" >"$work/lintian-gui.log" 2>&1 ||
  { cat "$work/lintian-gui.log"; fail "lintian on the desktop package"; }
gui_root="$work/gui-root"
rm -rf "$gui_root"
mkdir -p "$gui_root"
dpkg-deb -x "$gui_deb" "$gui_root"
desktop-file-validate "$gui_root/usr/share/applications/vane-upgrade-gui.desktop" ||
  fail "desktop-file-validate"
appstreamcli validate --no-net --pedantic "$gui_root/usr/share/metainfo/invalid.vane_transmitters.vane_upgrade_gui.metainfo.xml" \
  >"$work/appstream.log" 2>&1 || { cat "$work/appstream.log"; fail "appstreamcli validate"; }
"$gui_root/usr/bin/vane-upgrade-gui" --version | grep -qF "$version" || fail "vane-upgrade-gui --version"
echo "PASS: $(basename "$gui_deb"), $(wc -l <<<"$gui_contents") entries, Depends: $gui_depends"
