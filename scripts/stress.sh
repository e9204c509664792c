#!/usr/bin/env bash
# Runs the test binaries of a build ROUNDS times each, in a new random order
# every round, while a busy loop per core (at nice 5) loads the machine the
# way other jobs load a CI runner. Tests on real time, sockets and processes
# must hold there too. The crash-consistency tests run on the simulated
# platform only, where load changes nothing, and take minutes a round: they
# are left out. Exits non-zero when any round failed.
#   scripts/stress.sh [ROUNDS] [BUILD_FOLDER]      (20, build/release)
set -uo pipefail
rounds=${1:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${2:-$root/build/release}")

load=()
for _ in $(seq "$(nproc)"); do
  nice -n 5 bash -c 'while :; do :; done' &
  load+=($!)
done

log=$(mktemp)
trap 'kill "${load[@]}" 2>/dev/null; rm -f "$log"' EXIT
status=0
for binary in "$build/tests/ravelon_tests" "$build/apps/ravelon/ravelon_cli_tests"; do
  echo "== $rounds rounds of $(basename "$binary") under load"
  # From the binary's folder, as ctest runs it.
  (cd "$(dirname "$binary")" &&
    "$binary" --gtest_repeat="$rounds" --gtest_shuffle --gtest_brief=1 \
      --gtest_filter='-StoreCrashTest.*') >"$log" 2>&1 || status=1
  grep -E '^\[  FAILED|Failure$|tests from .* ran' "$log"
done
exit "$status"
