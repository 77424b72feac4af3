#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 and runs a campaign of SECONDS (default 60) per target.
# Findings and new inputs go to build-fuzz/fuzz-findings/<target>/; the committed seeds stay unchanged.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
seconds=${1:-60}
bash tools/install.sh --fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNAK_FUZZ=ON >/dev/null
cmake --build build-fuzz --target vornak_fuzzers
for t in build-fuzz/tools/fuzz_*; do
  [ -x "$t" ] || continue
  n=$(basename "$t")
  case "$n" in *_replay) continue ;; esac
  out=build-fuzz/fuzz-findings/$n
  mkdir -p "$out"
  echo "== $n ($seconds s)"
  "$t" -max_total_time="$seconds" -artifact_prefix="$out/" "$out" "tools/fuzz/corpus/${n#fuzz_}"
done
