#!/usr/bin/env bash
# A Debian 12 root of the 32-bit Windows tests' own, for a machine that cannot install 32-bit
# Wine itself: there the 64-bit libraries are at versions the i386 index does not have (taken
# from a suite that has no i386 index), and a Multi-Arch: same library must be at one version
# for both architectures. The root is made with debootstrap from the one suite, so amd64 and
# i386 come from the same index, and holds 32-bit Wine and what the Windows GUI tests use.
#   win32-root.sh make              makes build/win32-root, unless it is there and current;
#                                   exits 77 where it would be of no use (the kernel runs no
#                                   32-bit program) or cannot be entered (not root)
#   win32-root.sh check             exits 0 when the root is made and can be entered here, else
#                                   prints why and exits 1
#   win32-root.sh kernel            exits 0 when the kernel runs 32-bit programs, else prints
#                                   why and exits 77
#   win32-root.sh run [--bind DIR]... [--] COMMAND [ARGS...]
#                                   runs COMMAND in the root, in the folder it was
#                                   started from
# Entering the root takes root's rights (a mount namespace of its own, then chroot): /proc,
# /dev, /tmp, this source tree and each DIR are bound at the same paths, so that every path
# stays valid inside, and the binds end with the last process of the run. Making it holds a
# lock that `check` and `run` wait for, so that parallel tests never enter a half-made root.
set -euo pipefail

src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
root=${QUARNEL_WIN32_ROOT:-$src/build/win32-root}
lock=$root.lock
suite=bookworm
# What the root holds; a root made from another list is made again.
# wine64 as on a machine that installs wine32 itself: the prefix is then a 64-bit one, as there.
packages=(wine wine64 wine32:i386 fonts-wine xvfb xdotool imagemagick x11-utils)
recipe="1 $suite amd64+i386 ${packages[*]}"
marker=/etc/quarnel-win32-root

say() { echo "win32-root: $*" >&2; }

current() { [ "$(cat "$root$marker" 2>/dev/null)" = "$recipe" ]; }

# Whether the kernel starts a 32-bit program: the smallest one, which only exits with 0. A
# kernel built without IA-32 emulation, or started with it off, refuses it (exec format error).
kernel_runs_32bit() {
  local probe rc
  mkdir -p "$src/build"
  probe=$(mktemp "$src/build/.elf32-probe.XXXXXX") || return 1
  # ELF header, one loadable segment at 0x08048000, then: mov eax, 1; xor ebx, ebx; int 0x80.
  {
    printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0'
    printf '\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0'
    printf '\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0'
    printf '\270\1\0\0\0\61\333\315\200'
  } >"$probe"
  chmod +x "$probe"
  rc=0
  "$probe" 2>/dev/null || rc=$?
  rm -f "$probe"
  [ "$rc" = 0 ]
}
no_32bit_kernel="the kernel here runs no 32-bit program (its IA-32 emulation is missing or off;\
 where it is built in, the boot option ia32_emulation=on turns it on), so no 32-bit Wine can run"

# Why the root cannot be entered here; nothing when it can.
cannot_enter() {
  if [ -f "$marker" ]; then
    echo "this is the root already"
  elif [ "$(id -u)" -ne 0 ]; then
    echo "entering build/win32-root takes root's rights"
  elif ! unshare --mount --propagation private true 2>/dev/null; then
    echo "no mount namespace can be made here (unshare --mount failed)"
  fi
}

check() {
  local why
  why=$(cannot_enter)
  if [ -n "$why" ]; then
    echo "$why"
    return 1
  fi
  # A root being made is waited for.
  [ ! -e "$lock" ] || flock -s "$lock" true
  if ! current; then
    if ! kernel_runs_32bit; then
      echo "$no_32bit_kernel"
      return 1
    fi
    echo "no 32-bit root made here (bash scripts/win32-root.sh make, or scripts/install-deps.sh --all, makes $root)"
    return 1
  fi
}

# enter ROOT BIND... -- COMMAND...: COMMAND in ROOT with the binds, in the current folder.
enter() {
  local dir=$1
  shift
  unshare --mount --propagation private -- sh -c '
    set -e
    root=$1
    shift
    mount --rbind /proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount --rbind /tmp "$root/tmp"
    while [ "$1" != -- ]; do
      mkdir -p "$root$1"
      mount --rbind "$1" "$root$1"
      shift
    done
    shift
    exec chroot "$root" /bin/sh -c "cd \"\$0\" 2>/dev/null || cd /; exec \"\$@\"" "$PWD" "$@"
  ' sh "$dir" "$@"
}

run() {
  local binds=("$src") dir b covered why
  while [ $# -gt 0 ]; do
    case "$1" in
      --bind)
        dir=$(cd "$2" && pwd -P) || exit 2
        covered=0
        for b in "${binds[@]}"; do
          case "$dir/" in "$b"/*) covered=1 ;; esac
        done
        [ "$covered" = 1 ] || binds+=("$dir")
        shift 2 ;;
      --) shift; break ;;
      *) break ;;
    esac
  done
  [ $# -gt 0 ] || { say "run: no command"; exit 64; }
  if ! why=$(check); then
    say "$why"
    exit 1
  fi
  enter "$root" "${binds[@]}" -- "$@"
}

# The mirror the machine takes the suite from (as /etc/apt configures it).
mirror() {
  local site
  site=$(apt-get indextargets --format '$(SITE) $(RELEASE) $(TARGET_OF)' 2>/dev/null |
    awk -v suite="$suite" '$2 == suite && $3 == "deb" { print $1; exit }')
  echo "${site:-http://deb.debian.org/debian}"
}

make_root() {
  local why new start=$SECONDS site
  why=$(cannot_enter)
  if [ -n "$why" ]; then
    say "cannot make the root: $why"
    return 77
  fi
  if ! kernel_runs_32bit; then
    say "not made: $no_32bit_kernel"
    return 77
  fi
  command -v debootstrap >/dev/null ||
    { say "debootstrap is missing (scripts/install-deps.sh --all installs it)"; return 1; }
  mkdir -p "$(dirname "$root")"
  exec 9>"$lock"
  flock 9
  current && return 0
  new=$root.new
  rm -rf --one-file-system "$root" "$new"
  site=$(mirror)
  say "making $root from $site $suite (a few minutes, once per build tree)"
  # debootstrap mounts /proc and /sys inside the new root: a namespace of its own ends them
  # even when it fails half-way.
  if ! unshare --mount --propagation private -- \
    debootstrap --variant=minbase --arch=amd64 "$suite" "$new" "$site" >"$new.log" 2>&1; then
    tail -n 30 "$new.log" >&2
    say "debootstrap failed (the whole log: $new.log)"
    return 1
  fi
  cp /etc/resolv.conf "$new/etc/resolv.conf"
  # No service starts inside.
  printf '#!/bin/sh\nexit 101\n' >"$new/usr/sbin/policy-rc.d"
  chmod +x "$new/usr/sbin/policy-rc.d"
  if ! enter "$new" -- sh -c '
      set -e
      export DEBIAN_FRONTEND=noninteractive
      dpkg --add-architecture i386
      apt-get update -qq
      apt-get install -y -qq --no-install-recommends "$@"
      apt-get clean
    ' sh "${packages[@]}" >>"$new.log" 2>&1; then
    tail -n 30 "$new.log" >&2
    say "installing into the root failed (the whole log: $new.log)"
    return 1
  fi
  echo "$recipe" >"$new$marker"
  mv "$new" "$root"
  mv "$new.log" "$root.log"
  say "made $root in $((SECONDS - start)) s"
}

case "${1:-}" in
  make) make_root ;;
  check) check ;;
  kernel) kernel_runs_32bit || { echo "$no_32bit_kernel"; exit 77; } ;;
  run) shift; run "$@" ;;
  *) echo "usage: win32-root.sh make | check | kernel | run [--bind DIR]... [--] COMMAND [ARGS...]" >&2; exit 64 ;;
esac
