#!/usr/bin/env bash
# The Debian package on this machine: builds it from the release configuration, checks it the
# way Debian checks packages (lintian, desktop-file-validate, appstreamcli), installs it with
# apt-get, runs both programs from /usr/bin (the windowed one from its desktop entry's Exec
# line, on a private X server), finds every file where it belongs, purges the package and
# checks that nothing of it is left.
#
#   scripts/install-test.sh [--build-dir DIR]     (default build/release)
#
# Exits 77 (skipped) where it is not root, and where quarnel-fwupdate or any file of the
# package is already installed: it never touches an installation it did not make.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
build_dir=build/release
[ "${1:-}" = --build-dir ] && build_dir=$2

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: the install test installs and purges a package, which needs root"
  exit 77
fi
status=$(dpkg-query -W -f='${db:Status-Status}' quarnel-fwupdate 2>/dev/null)
if [ -n "$status" ] && [ "$status" != not-installed ]; then
  echo "skipped: quarnel-fwupdate is already installed here ($status); the install test" \
    "never removes an installation it did not make"
  exit 77
fi

if grep -qsE '^path-exclude[= ]+/usr/share/(man|doc)' /etc/dpkg/dpkg.cfg.d/*; then
  echo "skipped: dpkg is told to leave out manual pages or documentation here (path-exclude" \
    "in /etc/dpkg/dpkg.cfg.d), which the install test checks"
  exit 77
fi

# shellcheck source=scripts/lib/xsession.sh
source scripts/lib/xsession.sh
work=$(mktemp -d)
installed=0
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
cleanup() {
  [ -n "${gui_pid:-}" ] && kill "$gui_pid" 2>/dev/null && wait "$gui_pid" 2>/dev/null
  xsession_stop
  # A failed check must not leave the package behind either.
  [ "$installed" = 1 ] && apt-get purge -y -qq quarnel-fwupdate >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
# The programs' run lock and anything else they keep at run time: in here, gone at the end.
export TMPDIR="$work" XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# The release build, with the windowed program and without the benchmarks.
echo "building the package in $build_dir"
{ cmake --preset release -B "$build_dir" -DQUARNEL_BUILD_BENCH=OFF &&
  cmake --build "$build_dir" -j2 &&
  (cd "$build_dir" && cpack -G DEB); } >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "the package did not build"; }
deb=$(ls "$build_dir"/package/quarnel-fwupdate_*.deb) || fail "no package in $build_dir/package"
deb=$(realpath "$deb")
echo "package: $deb"

# What Debian's tools say of it: nothing, at every level lintian has.
lintian --pedantic --display-info --display-experimental --fail-on error,warning,info,pedantic \
  "$deb" 2>&1 | grep -v 'running with root privileges' | tee "$work/lintian.log"
if [ "${PIPESTATUS[0]}" -ne 0 ] || [ -s "$work/lintian.log" ]; then
  fail "lintian has remarks"
fi
echo "lintian: no remarks"

# The package's files and the folders it would create: these must be gone after the purge.
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' | grep -v '^/\?$' \
  >"$work/contents"
: >"$work/new"
while read -r path; do
  if [ -e "$path" ] && [ ! -d "$path" ]; then
    echo "skipped: $path exists already (installed by hand?); the install test never" \
      "overwrites files it did not install"
    exit 77
  fi
  [ -e "$path" ] || echo "$path" >>"$work/new"
done <"$work/contents"

echo "installing"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get install"; }
installed=1

# Both programs from /usr/bin.
[ "$(command -v quarnel-fwupdate-cli)" = /usr/bin/quarnel-fwupdate-cli ] ||
  fail "quarnel-fwupdate-cli is not found in /usr/bin"
quarnel-fwupdate-cli --version || fail "quarnel-fwupdate-cli --version exited $?"
quarnel-fwupdate-cli --simulate update >"$work/update.log" 2>&1 ||
  { cat "$work/update.log"; fail "quarnel-fwupdate-cli --simulate update exited $?"; }
tail -n 1 "$work/update.log"

# Every file where it belongs, and found by the tools that look for it.
for path in \
  /usr/bin/quarnel-fwupdate \
  /lib/udev/rules.d/70-quarnel-audio.rules \
  /usr/share/applications/com.quarnel.fwupdate.desktop \
  /usr/share/metainfo/com.quarnel.fwupdate.metainfo.xml \
  /usr/share/icons/hicolor/{16x16,32x32,48x48,256x256}/apps/com.quarnel.fwupdate.png \
  /usr/share/icons/hicolor/scalable/apps/com.quarnel.fwupdate.svg \
  /usr/share/man/man1/quarnel-fwupdate{,-cli}.1.gz \
  /usr/share/bash-completion/completions/quarnel-fwupdate-cli \
  /usr/share/doc/quarnel-fwupdate/{copyright,changelog.gz}; do
  [ -f "$path" ] || fail "$path is missing"
done
for page in quarnel-fwupdate-cli quarnel-fwupdate; do
  [ "$(man -w "$page")" = "/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page"
done
desktop-file-validate /usr/share/applications/com.quarnel.fwupdate.desktop ||
  fail "desktop-file-validate"
appstreamcli validate --no-net --pedantic /usr/share/metainfo/com.quarnel.fwupdate.metainfo.xml ||
  fail "appstreamcli validate"
echo "files in place; man, desktop-file-validate and appstreamcli content"

# The windowed program as a desktop starts it: its entry's Exec line (without field codes).
# shellcheck disable=SC2119  # no tools beyond the usual ones
missing_tools=$(xsession_missing_tools)
[ -z "$missing_tools" ] ||
  fail "the window check needs $missing_tools (scripts/install-deps.sh --all)"
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/com.quarnel.fwupdate.desktop |
  sed 's/ %[fFuUik]//g')
[ "$(command -v "${exec_line%% *}")" = /usr/bin/quarnel-fwupdate ] ||
  fail "the Exec line '$exec_line' does not start /usr/bin/quarnel-fwupdate"
xsession_start "$work" || fail "no X server"
export NO_AT_BRIDGE=1
# shellcheck disable=SC2086  # the Exec line's words
$exec_line --simulate >"$work/gui.log" 2>&1 &
gui_pid=$!
# The dialog's caption, whatever it adds after it.
wait_until 30 "the window" window_named "${QUARNEL_DIALOG_TITLE_RE%\$}" ||
  { cat "$work/gui.log"; fail "no window of quarnel-fwupdate"; }
echo "window: $(xdotool getwindowname "$(window_named "${QUARNEL_DIALOG_TITLE_RE%\$}")")"
kill "$gui_pid"
wait "$gui_pid" 2>/dev/null
gui_pid=

echo "purging"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq quarnel-fwupdate >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get purge"; }
installed=0
status=$(dpkg-query -W -f='${db:Status-Status}' quarnel-fwupdate 2>/dev/null)
[ -z "$status" ] || [ "$status" = not-installed ] || fail "after the purge dpkg says: $status"
left=0
while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then
    echo "left behind: $path" >&2
    left=1
  fi
done <"$work/new"
[ "$left" = 0 ] || fail "the purge left files behind"
echo "purged; nothing left"
