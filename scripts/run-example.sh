#!/usr/bin/env bash
# Installs what is missing, builds, and runs the example host: one engine on
# the real platform, printing every event it raises.
#   scripts/run-example.sh [address [port [path [seconds [store folder]]]]]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh release
exec build/release/apps/ravelon_example_host "$@"
