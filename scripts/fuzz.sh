#!/usr/bin/env bash
# Runs the libFuzzer targets of fuzz/ for a while each, one after another.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     (default: 60 s, every target)
# TARGET is a file name of fuzz/ without "_fuzz.cpp", e.g. stream_reader.
#
# Builds with clang in build/fuzz (ASan + UBSan + libFuzzer). Each target
# starts from a scratch copy of its seeds, build/fuzz/corpus/NAME/, which keeps
# what earlier runs found; the repository's corpus grows only by a merge:
#   build/fuzz/fuzz/NAME_fuzz -merge=1 fuzz/corpus/NAME build/fuzz/corpus/NAME
# Findings (crash-*, leak-*, timeout-*, oom-*) go to build/fuzz/findings/NAME/;
# the script exits 1 when a run made any. Full logs: build/fuzz/logs/NAME.log.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
if [[ $# -gt 0 ]]; then
  targets=("$@")
else
  targets=()
  for source in fuzz/*_fuzz.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("${name%_fuzz}")
  done
fi

if ! command -v clang++ >/dev/null || ! compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
  echo "Installing clang and its libFuzzer runtime"
  as_root=()
  [[ $(id -u) -eq 0 ]] || as_root=(sudo)
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
    clang libclang-rt-dev
fi

build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRAVELON_BUILD_FUZZ=ON -DRAVELON_BUILD_TESTS=OFF -DRAVELON_BUILD_BENCH=OFF \
  -DRAVELON_BUILD_APPS=OFF -DRAVELON_INSTALL=OFF -DRAVELON_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/%/_fuzz}"

found=0
printf '%-18s %12s %9s %7s %8s %9s\n' target executions exec/s cov ft findings
for name in "${targets[@]}"; do
  corpus=$build/corpus/$name findings=$build/findings/$name log=$build/logs/$name.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
  touch "$log.start"  # findings of earlier runs stay, and are not counted again
  # Inputs up to 64 KiB: long streams, many records, files past a read chunk.
  "$build/fuzz/${name}_fuzz" "$corpus" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$findings/" >"$log" 2>&1 || true
  status=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$status")
  ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$status")
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log")
  rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' "$log")
  count=$(find "$findings" -type f -newer "$log.start" | wc -l)
  printf '%-18s %12s %9s %7s %8s %9s\n' "$name" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$count"
  if ((count > 0)); then
    found=1
    find "$findings" -type f -newer "$log.start" -printf '    %p\n'
    grep -E '^(finding:|SUMMARY:)' "$log" | sed 's/^/    /' || true
  fi
done
exit "$found"
