#!/usr/bin/env bash
# Configures and builds one flavour of the project.
#   scripts/build.sh release   -> build/release     (warnings are errors)
#   scripts/build.sh asan      -> build/asan        (AddressSanitizer + UBSan)
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-release}
case "$flavour" in
  release) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan) flags=(-DCMAKE_BUILD_TYPE=Debug -DRAVELON_SANITIZE=ON -DRAVELON_BUILD_BENCH=OFF) ;;
  *) echo "unknown flavour: $flavour" >&2; exit 2 ;;
esac

cmake -S . -B "build/$flavour" -G Ninja -DRAVELON_WERROR=ON "${flags[@]}" >/dev/null
cmake --build "build/$flavour" -j "$(nproc)"
