#!/usr/bin/env bash
# The cut-point sweep with every cut point: each request number of both phases, for both
# framings and each kind of failure (tests/sweep/Sweep_test.cpp). CI runs a chosen set of cut
# points (ctest -L sweep); this runs them all, which takes far longer.
#
#   scripts/sweep.sh [--build-dir DIR] [-j JOBS] [GTEST_FILTER]
#
# Builds quarnel_sweep in DIR (default build/default, configured with the default preset),
# then runs the eight sweeps, JOBS at a time (default 2). Prints each sweep's result and time,
# then the total; exits 0 when every sweep passed.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/default"
jobs=2
filter="*"
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=$2; shift 2 ;;
    -j) jobs=$2; shift 2 ;;
    -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "sweep: unknown option '$1' (see --help)" >&2; exit 64 ;;
    *) filter=$1; shift ;;
  esac
done

cd "$root" || exit 1
if [ ! -f "$build/build.ninja" ]; then
  cmake --preset default >/dev/null || exit 1
fi
cmake --build "$build" -j2 --target quarnel_sweep || exit 1
sweep="$build/tests/quarnel_sweep"

mapfile -t cases < <("$sweep" --gtest_list_tests --gtest_filter="$filter" |
  awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }')
[ "${#cases[@]}" -gt 0 ] || { echo "sweep: no sweep matches '$filter'" >&2; exit 64; }

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
began=$(date +%s)
# run_one INDEX: runs the sweep cases[INDEX]; its output and result go to files named by INDEX.
run_one() {
  local start rc
  start=$(date +%s)
  QUARNEL_SWEEP_EVERY=1 "$sweep" --gtest_filter="${cases[$1]}" >"$logs/$1.log" 2>&1
  rc=$?
  echo "$rc $(( $(date +%s) - start ))" >"$logs/$1.result"
}
running=0
for i in "${!cases[@]}"; do
  run_one "$i" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
for i in "${!cases[@]}"; do
  name=${cases[$i]##*/}
  rc=1
  seconds=0
  [ -f "$logs/$i.result" ] && read -r rc seconds <"$logs/$i.result"
  if [ "$rc" -eq 0 ]; then
    echo "sweep: PASS $name (${seconds} s)"
  else
    failed=$((failed + 1))
    echo "sweep: FAIL $name (${seconds} s)"
    grep -E "Failure|N=|exit code|did not end" "$logs/$i.log" | head -n 20 | sed 's/^/  /'
  fi
done
echo "sweep: ${#cases[@]} sweeps, $failed failed, $(( $(date +%s) - began )) s"
[ "$failed" -eq 0 ]
