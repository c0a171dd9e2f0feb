#!/usr/bin/env bash
# End-to-end test through a real Linux kernel: boots Debian's kernel in qemu (TCG, no KVM
# needed) with an initramfs that holds busybox, the kernel's HID modules, the command-line
# program and the uhid front end of the emulated device, and runs the scenarios of
# tests/e2e/init.sh there: the program finds the device through hidraw as it would find the
# real unit.
#
#   scripts/e2e-vm.sh [--build-dir DIR] [--cli PATH] [--uhid-device PATH] [--image PATH]
#                     [--cache DIR]
#
# --build-dir (default build/default) supplies the other paths' defaults: DIR/app/
# quarnel-fwupdate-cli, DIR/tests/e2e/quarnel-uhid-device and DIR/e2e-cache, where the kernel
# package is kept between runs (about 70 MB, fetched once with apt-get download). --image is
# the image compiled into the program (default resources/firmware.bin).
#
# Prints one line per scenario and "N passed, M failed"; exits 0 when all passed, 1 when any
# failed or the machine gave no verdict, 77 when qemu cannot run here (except under CI, which
# must not skip). The guest's whole console output is kept in the cache as last-serial.log.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/default"
cli=""
uhid=""
cache=""
image="$root/resources/firmware.bin"
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=$2; shift 2 ;;
    --cli) cli=$2; shift 2 ;;
    --uhid-device) uhid=$2; shift 2 ;;
    --image) image=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "e2e: unknown argument '$1' (see --help)" >&2; exit 64 ;;
  esac
done
cli=${cli:-$build/app/quarnel-fwupdate-cli}
uhid=${uhid:-$build/tests/e2e/quarnel-uhid-device}
cache=${cache:-$build/e2e-cache}
# Relative paths are taken from where the script was started; later steps change directory.
mkdir -p "$build" "$cache"
absolute() { case "$1" in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
build=$(absolute "$build")
cli=$(absolute "$cli")
uhid=$(absolute "$uhid")
cache=$(absolute "$cache")
image=$(absolute "$image")

say() { echo "e2e: $*"; }
die() { echo "e2e: $*" >&2; exit 1; }
skip() {
  if [ "${CI:-}" = true ]; then
    die "cannot run here: $* (CI installs what this test needs, so this is a failure there)"
  fi
  say "SKIP: $*"
  exit 77
}

[ "$(uname -s)" = Linux ] && [ "$(uname -m)" = x86_64 ] || skip "needs an x86-64 Linux host"
for f in "$cli" "$uhid" "$image" "$root/tests/e2e/init.sh"; do
  [ -f "$f" ] || die "$f is missing (build first: cmake --build --preset default)"
done

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; elif sudo -n true 2>/dev/null; then sudo "$@"; else return 1; fi
}

# A static busybox: it runs in the initramfs without any library.
static_busybox() {
  local bb
  bb=$(command -v busybox 2>/dev/null) || return 1
  ! ldd "$bb" >/dev/null 2>&1 || return 1
  echo "$bb"
}

tools_present() { command -v qemu-system-x86_64 >/dev/null && static_busybox >/dev/null; }

if ! tools_present; then
  say "installing qemu-system-x86 and busybox-static"
  { as_root apt-get install -y -qq qemu-system-x86 busybox-static >/dev/null 2>&1 ||
    { as_root apt-get update -qq && as_root apt-get install -y -qq qemu-system-x86 busybox-static; }
  } >/dev/null 2>&1
  tools_present || skip "qemu-system-x86_64 or a static busybox is missing and cannot be installed"
fi
busybox=$(static_busybox)
qemu-system-x86_64 --version >/dev/null 2>&1 || skip "qemu-system-x86_64 does not run"

# --- The kernel: Debian's current one, from the package linux-image-amd64 depends on.
mkdir -p "$cache" || die "cannot create $cache"
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}
pkg=$(kernel_package)
if [ -z "$pkg" ]; then
  as_root apt-get update -qq >/dev/null 2>&1
  pkg=$(kernel_package)
fi
deb=""
[ -n "$pkg" ] && deb=$(ls "$cache/${pkg}_"*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ] && [ -n "$pkg" ]; then
  say "downloading $pkg (kept in $cache)"
  if (cd "$cache" && apt-get download -o APT::Sandbox::User=root "$pkg" >"$cache/download.log" 2>&1); then
    deb=$(ls "$cache/${pkg}_"*.deb 2>/dev/null | head -n 1)
    # Kernels that are no longer current only take room.
    for old in "$cache"/linux-image-*.deb; do
      [ "$old" = "$deb" ] || rm -rf "$old" "$old.d"
    done
  else
    cat "$cache/download.log" >&2
  fi
fi
# Without the package lists or the network, a kernel fetched earlier does as well.
[ -n "$deb" ] || deb=$(ls -t "$cache"/linux-image-*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || skip "no Debian kernel package could be had (apt-get download ${pkg:-linux-image-amd64})"

kernel="$deb.d"
modules=(hid hid-generic uhid)  # loaded in this order: the package has no modules.dep
if [ ! -f "$kernel/vmlinuz" ] || [ ! -f "$kernel/uhid.ko" ]; then
  rm -rf "$kernel" "$kernel.tmp"
  mkdir -p "$kernel.tmp"
  dpkg-deb --fsys-tarfile "$deb" |
    tar -x -C "$kernel.tmp" --wildcards './boot/vmlinuz-*' '*/drivers/hid/hid.ko*' \
      '*/drivers/hid/hid-generic.ko*' '*/drivers/hid/uhid.ko*' ||
    die "cannot unpack $deb"
  mkdir -p "$kernel"
  cp "$kernel.tmp"/boot/vmlinuz-* "$kernel/vmlinuz" || die "no kernel image in $deb"
  for m in "${modules[@]}"; do
    found=$(find "$kernel.tmp" -path "*/drivers/hid/$m.ko*" | head -n 1)
    case "$found" in
      *.ko) cp "$found" "$kernel/$m.ko" ;;
      *.ko.xz) xz -dc "$found" >"$kernel/$m.ko" || "$busybox" xzcat "$found" >"$kernel/$m.ko" ;;
      *.ko.zst) zstd -dcq "$found" >"$kernel/$m.ko" ;;
      *) die "no $m module in $deb" ;;
    esac || die "cannot unpack $found"
  done
  rm -rf "$kernel.tmp"
fi

# --- The initramfs.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rootfs="$work/root"
mkdir -p "$rootfs"/{bin,lib/modules,proc,sys,dev,tmp}
cp "$busybox" "$rootfs/bin/busybox"
for m in "${modules[@]}"; do cp "$kernel/$m.ko" "$rootfs/lib/modules/"; done
cp "$root/tests/e2e/init.sh" "$rootfs/init"
cp "$image" "$rootfs/firmware.bin"
cp "$uhid" "$rootfs/bin/quarnel-uhid-device"
cp "$cli" "$rootfs/bin/quarnel-fwupdate-cli"
chmod 755 "$rootfs/init" "$rootfs/bin/"*
ldd "$uhid" >/dev/null 2>&1 && die "$uhid is not linked statically"
# The program with the libraries it loads, at the paths it looks for them.
libs=$(ldd "$cli" | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }') ||
  die "ldd $cli failed"
for lib in $libs; do
  mkdir -p "$rootfs$(dirname "$lib")"
  cp -L "$lib" "$rootfs$lib" || die "cannot copy $lib"
done
(cd "$rootfs" && find . | "$busybox" cpio -o -H newc 2>/dev/null) >"$work/initrd.cpio" ||
  die "cannot pack the initramfs"

# --- The run. The guest powers off when done; qemu's own exit code says nothing about it.
release=$(basename "$deb" .deb)
say "booting ${release%%_*} in qemu (TCG), $(du -h "$work/initrd.cpio" | cut -f1) initramfs"
log="$cache/last-serial.log"
start=$(date +%s)
timeout 900 qemu-system-x86_64 -accel tcg -m 256 -nographic -no-reboot -nic none \
  -kernel "$kernel/vmlinuz" -initrd "$work/initrd.cpio" \
  -append "console=ttyS0 quiet panic=-1" </dev/null >"$log" 2>&1
qemu_rc=$?
elapsed=$(($(date +%s) - start))

# The guest's lines start with E2E, though the firmware's escape codes may come before the first.
tr -d '\r' <"$log" | grep -ao 'E2E .*' | sed 's/^E2E //'
verdict=$(tr -d '\r' <"$log" | grep -ao 'E2E-DONE .*' | tail -n 1)
if [ -z "$verdict" ]; then
  say "the virtual machine gave no verdict (qemu exit code $qemu_rc after ${elapsed}s); its last words:"
  tr -d '\r' <"$log" | tail -n 30 | sed 's/^/  /'
  echo "0 passed, 1 failed"
  exit 1
fi
counts=${verdict#E2E-DONE }
say "done in ${elapsed}s (console output: $log)"
echo "$counts"
case "$counts" in
  *" 0 failed") exit 0 ;;
  *) exit 1 ;;
esac
