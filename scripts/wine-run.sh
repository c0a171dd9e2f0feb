#!/bin/sh
# Runs a Windows program of a cross build under Wine: the test runner's emulator.
#   wine-run.sh ARCH PREFIX PROGRAM [ARGS...]   ARCH is i686 or x86_64; PREFIX is the Wine
#                                               prefix to use (made on first use)
#   wine-run.sh ARCH PREFIX --check             exits 0 when Wine can start ARCH programs here,
#                                               else prints why and exits 1 (77: the kernel
#                                               runs no 32-bit program)
#   wine-run.sh ARCH PREFIX --where             prints where they start: "host", or "root" for
#                                               the 32-bit root of scripts/win32-root.sh; else
#                                               prints why they cannot and exits 1
# 32-bit programs start in that root where the machine has no 32-bit Wine of its own but the
# root is made: this script then runs itself there, with the prefix's folder bound inside.
# The prefix is set up once, under a lock, so that parallel test runs never race to create it
# and no test pays for Wine's slow first start inside its own time limit.
set -u
arch=$1
prefix=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)

# Debian's `wine` prefers the 32-bit loader; 64-bit programs need the 64-bit one.
case "$arch" in
  i686) candidates="/usr/lib/wine/wine wine" ;;
  x86_64) candidates="/usr/lib/wine/wine64 wine64 wine" ;;
  *) echo "wine-run.sh: unknown architecture '$arch'" >&2; exit 2 ;;
esac
loader=""
for c in $candidates; do
  if command -v "$c" >/dev/null 2>&1; then
    loader=$(command -v "$c")
    break
  fi
done

# Why this machine's own Wine cannot start ARCH programs, without starting it; nothing when
# it may.
host_lacks() {
  if [ -z "$loader" ]; then
    echo "Wine is not installed (no $candidates)"
  # Debian's `wine` falls back on the 64-bit loader when the 32-bit one (wine32:i386) is
  # missing, and that loader ends a 32-bit program that never started with exit code 0.
  elif [ "$arch" = i686 ] && [ "$(od -An -tx1 -j4 -N1 "$(readlink -f "$loader")" | tr -d ' ')" != 01 ]; then
    echo "no 32-bit Wine here ($loader is no 32-bit program; Debian's package is wine32:i386)"
  fi
}

# The 32-bit root serves where this machine lacks 32-bit Wine, never from inside the root.
root_may_serve() {
  [ "$arch" = i686 ] && [ ! -f /etc/quarnel-win32-root ]
}

# Where ARCH programs start (host or root), or why they cannot.
where() {
  local_why=$(host_lacks)
  if [ -z "$local_why" ]; then
    if ! out=$("$loader" --version 2>&1); then
      case "$out" in
        *"Exec format error"*)
          echo "Wine cannot start $arch programs on this machine: the kernel runs no 32-bit program" ;;
        *) echo "Wine cannot start $arch programs on this machine: $loader --version: $out" ;;
      esac
      return 1
    fi
    echo host
    return 0
  fi
  if root_may_serve; then
    if ! root_why=$(bash "$here/win32-root.sh" check); then
      echo "$local_why; and no 32-bit root to use instead: $root_why"
      return 1
    fi
    mkdir -p "$(dirname "$prefix")"
    if ! root_out=$(bash "$here/win32-root.sh" run --bind "$(dirname "$prefix")" -- \
      sh "$here/wine-run.sh" "$arch" "$prefix" --check); then
      echo "$local_why; in build/win32-root: $root_out"
      return 1
    fi
    echo root
    return 0
  fi
  echo "$local_why"
  return 1
}

# --check exits 77 where no 32-bit program can start at all (the kernel's IA-32 emulation is
# off): a fact of the machine that no installing can change, so even CI skips rather than fails.
case "${1:-}" in
  --check)
    out=$(where) && exit 0
    if [ "$arch" = i686 ] && [ -n "$(host_lacks)" ] && ! kernel_why=$(bash "$here/win32-root.sh" kernel); then
      echo "$kernel_why"
      exit 77
    fi
    echo "$out"
    exit 1 ;;
  --where) where; exit $? ;;
esac

if [ -n "$(host_lacks)" ]; then
  if root_may_serve && bash "$here/win32-root.sh" check >/dev/null; then
    mkdir -p "$(dirname "$prefix")"
    exec bash "$here/win32-root.sh" run --bind "$(dirname "$prefix")" -- \
      sh "$here/wine-run.sh" "$arch" "$prefix" "$@"
  fi
  echo "wine-run.sh: $(host_lacks)" >&2
  exit 2
fi

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="$prefix"
export WINELOADER="$loader"

mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.ready" ]; then
    rm -rf "$prefix"
    "$loader" wineboot -i >/dev/null 2>&1 </dev/null 9>&-
    # wineboot leaves services starting in the background: wait until the server is idle.
    wineserver -w >/dev/null 2>&1 9>&-
    touch "$prefix/.ready"
  fi
  # A test run starts one program per test: keep the server alive between them instead of
  # paying for a new start each time; it exits by itself once the prefix has been idle for a
  # while. When the server is new, start Wine's background services now, with no output
  # attached: started by the program, they would hold its output open (and the test runner
  # waiting) until the server exits.
  if wineserver -p20 >/dev/null 2>&1 </dev/null 9>&-; then
    "$loader" cmd.exe /c exit >/dev/null 2>&1 </dev/null 9>&-
  fi
) 9>"$prefix.lock"

exec "$loader" "$@"
