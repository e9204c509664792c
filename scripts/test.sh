#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer flavour, and
# runs the whole test suite in both.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
for flavour in release asan; do
  echo "== $flavour build"
  scripts/build.sh "$flavour"
  echo "== $flavour tests"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "build/$flavour" -j "$(nproc)" --output-on-failure
done
