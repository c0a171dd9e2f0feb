#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test.
# Prints one line per stage and a final "N passed, M failed" line; exits non-zero on failure.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --all || { echo "dependency install failed"; exit 1; }

passed=0
failed=0
failures=()
stage() {
  local name=$1
  shift
  echo "=== $name"
  if "$@"; then
    passed=$((passed + 1))
    echo "=== $name: ok"
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "=== $name: FAILED"
  fi
}

run_preset() {
  local preset=$1
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" &&
    ctest --preset "$preset"
}

stage "linux default" run_preset default
stage "linux asan" run_preset asan
stage "linux tsan" run_preset tsan

# Cross builds with MinGW-w64; ctest runs the test programs under Wine.
stage "windows win32" run_preset win32
stage "windows win64" run_preset win64

echo
[ "$failed" -eq 0 ] || echo "failed stages: ${failures[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
