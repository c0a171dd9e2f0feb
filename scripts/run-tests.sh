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

linux_preset() {
  local preset=$1
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" &&
    ctest --preset "$preset"
}

stage "linux default" linux_preset default
stage "linux asan" linux_preset asan
stage "linux tsan" linux_preset tsan

echo
[ "$failed" -eq 0 ] || echo "failed stages: ${failures[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
