#!/usr/bin/env bash
# End-to-end test through a real Linux kernel: boots Debian's kernel in qemu (TCG, no KVM
# needed) with an initramfs that holds busybox, the kernel's HID and USB modules, the
# command-line program and the two front ends of the emulated device, and runs the scenarios of
# tests/e2e/init.sh there in two stages: units made through uhid, then units that are USB
# gadgets on dummy_hcd, enumerated by the kernel's USB stack and bound by usbhid. Either way the
# program finds the unit through hidraw as it would find the real one.
#
#   scripts/e2e-vm.sh [--build-dir DIR] [--cli PATH] [--uhid-device PATH] [--hidg-device PATH]
#                     [--image PATH] [--cache DIR]
#
# --build-dir (default build/default) supplies the other paths' defaults: DIR/app/
# quarnel-fwupdate-cli, DIR/tests/e2e/quarnel-uhid-device, DIR/tests/e2e/quarnel-hidg-device
# and DIR/e2e-cache, where the kernel package is kept between runs (about 70 MB, fetched once
# with apt-get download). --image is the image compiled into the program (default
# resources/firmware.bin).
#
# Prints one line per scenario, the clean update's time through each stack, and "N passed, M
# failed"; exits 0 when all passed, 1 when any failed or the machine gave no verdict, 77 when
# qemu cannot run here (except under CI, which must not skip). The guest's whole console output
# is kept in the cache as last-serial.log.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/default"
cli=""
uhid=""
hidg=""
cache=""
image="$root/resources/firmware.bin"
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=$2; shift 2 ;;
    --cli) cli=$2; shift 2 ;;
    --uhid-device) uhid=$2; shift 2 ;;
    --hidg-device) hidg=$2; shift 2 ;;
    --image) image=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "e2e: unknown argument '$1' (see --help)" >&2; exit 64 ;;
  esac
done
cli=${cli:-$build/app/quarnel-fwupdate-cli}
uhid=${uhid:-$build/tests/e2e/quarnel-uhid-device}
hidg=${hidg:-$build/tests/e2e/quarnel-hidg-device}
cache=${cache:-$build/e2e-cache}
# Relative paths are taken from where the script was started; later steps change directory.
mkdir -p "$build" "$cache"
absolute() { case "$1" in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
build=$(absolute "$build")
cli=$(absolute "$cli")
uhid=$(absolute "$uhid")
hidg=$(absolute "$hidg")
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
for f in "$cli" "$uhid" "$hidg" "$image" "$root/tests/e2e/init.sh"; do
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
# The modules the guest loads, in this order (the package has no modules.dep; the order is
# checked against each module's own list of what it needs below): HID and uhid for the first
# stage; for the second the USB core, the gadget framework with configfs and its HID function,
# dummy_hcd (a USB device controller wired to a host controller) and usbhid.
modules=(drivers/hid/hid drivers/hid/hid-generic drivers/hid/uhid
         drivers/usb/common/usb-common drivers/usb/core/usbcore drivers/usb/gadget/udc/udc-core
         fs/configfs/configfs drivers/usb/gadget/libcomposite
         drivers/usb/gadget/function/usb_f_hid drivers/usb/gadget/udc/dummy_hcd
         drivers/hid/usbhid/usbhid)
names=()
for m in "${modules[@]}"; do names+=("$(basename "$m")"); done
unpacked=1
for n in "${names[@]}"; do [ -f "$kernel/$n.ko" ] || unpacked=0; done
if [ ! -f "$kernel/vmlinuz" ] || [ "$unpacked" = 0 ]; then
  rm -rf "$kernel" "$kernel.tmp"
  mkdir -p "$kernel.tmp"
  patterns=()
  for m in "${modules[@]}"; do patterns+=("*/kernel/$m.ko*"); done
  dpkg-deb --fsys-tarfile "$deb" |
    tar -x -C "$kernel.tmp" --wildcards './boot/vmlinuz-*' "${patterns[@]}" ||
    die "cannot unpack $deb"
  mkdir -p "$kernel"
  cp "$kernel.tmp"/boot/vmlinuz-* "$kernel/vmlinuz" || die "no kernel image in $deb"
  for m in "${modules[@]}"; do
    n=$(basename "$m")
    found=$(find "$kernel.tmp" -path "*/kernel/$m.ko*" | head -n 1)
    case "$found" in
      *.ko) cp "$found" "$kernel/$n.ko" ;;
      *.ko.xz) xz -dc "$found" >"$kernel/$n.ko" || "$busybox" xzcat "$found" >"$kernel/$n.ko" ;;
      *.ko.zst) zstd -dcq "$found" >"$kernel/$n.ko" ;;
      *) die "no $n module in $deb" ;;
    esac || die "cannot unpack $found"
  done
  rm -rf "$kernel.tmp"
fi
# Every module comes after the modules it needs (its "depends=" entry).
loaded=" "
for n in "${names[@]}"; do
  needs=$(tr '\0' '\n' <"$kernel/$n.ko" | sed -n 's/^depends=//p' | head -n 1 | tr ',' ' ')
  for d in $needs; do
    case "$loaded" in
      *" $d "*) ;;
      *) die "module $n needs $d, which is not loaded before it (update the list in $0)" ;;
    esac
  done
  loaded="$loaded$n "
done

# --- The initramfs.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rootfs="$work/root"
mkdir -p "$rootfs"/{bin,lib/modules,proc,sys,dev,tmp}
cp "$busybox" "$rootfs/bin/busybox"
for n in "${names[@]}"; do cp "$kernel/$n.ko" "$rootfs/lib/modules/"; done
printf '%s\n' "${names[@]}" >"$rootfs/lib/modules/order"
cp "$root/tests/e2e/init.sh" "$rootfs/init"
cp "$image" "$rootfs/firmware.bin"
cp "$uhid" "$rootfs/bin/quarnel-uhid-device"
cp "$hidg" "$rootfs/bin/quarnel-hidg-device"
cp "$cli" "$rootfs/bin/quarnel-fwupdate-cli"
chmod 755 "$rootfs/init" "$rootfs/bin/"*
for f in "$uhid" "$hidg"; do
  ldd "$f" >/dev/null 2>&1 && die "$f is not linked statically"
done
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
# The figures once more, together.
tr -d '\r' <"$log" | grep -ao 'E2E TIME .*' | sed 's/^E2E TIME /e2e: /'
echo "$counts"
case "$counts" in
  *" 0 failed") exit 0 ;;
  *) exit 1 ;;
esac
