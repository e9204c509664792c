#!/usr/bin/env bash
# The main job on a fresh machine: installs what is missing, builds the
# `ravelon` command and runs `ravelon demo` (a built-in test camera recorded
# for a few seconds, then listed, verified and shown as a contact sheet).
#   scripts/demo.sh [demo options, e.g. --seconds 20]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVELON_WERROR=ON >/dev/null
cmake --build build/release -j "$(nproc)" --target ravelon_command
exec build/release/apps/ravelon/ravelon demo "$@"
