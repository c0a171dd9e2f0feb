#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and,
# for each target, replays its seed corpus and then runs it for a fixed number of inputs from a
# fixed seed, so that two runs try the same inputs.
#
#   scripts/fuzz.sh [--runs N] [TARGET...]
#
# TARGET is a folder of fuzz/corpus (default: every one). New inputs go to a scratch corpus,
# build/fuzz/fuzz-work/TARGET/new, emptied first, so that the tree's corpus stays as it is; the
# target's output and any failing input are kept beside it. Prints one line per target and
# exits 1 when any failed.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=200000
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    -*) echo "unknown option $1" >&2; exit 64 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if [ "${#targets[@]}" -eq 0 ]; then
  for dir in "$root"/fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

cd "$root"
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j2 || exit 1

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
failed=0
for target in "${targets[@]}"; do
  exe="$root/build/fuzz/fuzz/${target}_fuzz"
  corpus="$root/fuzz/corpus/$target"
  work="$root/build/fuzz/fuzz-work/$target"
  rm -rf "$work"
  mkdir -p "$work/new"
  start=$SECONDS
  if [ -x "$exe" ] && [ -d "$corpus" ] &&
     "$exe" -runs=0 "$corpus" >"$work/log" 2>&1 &&
     "$exe" -seed=1 -runs="$runs" -artifact_prefix="$work/" "$work/new" "$corpus" \
       >>"$work/log" 2>&1; then
    echo "$target: ok, corpus replayed and $runs runs ($((SECONDS - start)) s)"
  else
    echo "$target: FAILED ($((SECONDS - start)) s); output and failing input in $work"
    tail -n 40 "$work/log"
    failed=1
  fi
done
exit "$failed"
