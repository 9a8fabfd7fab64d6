#!/usr/bin/env bash
# Decoding benchmark: builds the corpus, packs it with the vorpanex tool (-lh6-, -lh5-
# and stored), and prints bench_decode's MB/s for each archive and for the fixtures.
# Usage: bench/run-bench.sh [REPEATS]   (BUILD_DIR picks the build, default build/host)
# Figures only: it fails only when something cannot be built or packed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/host}
repeats=${1:-5}
out=$root/build/bench
corpus=$out/corpus

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target bench_decode vorpanex -j2 >/dev/null

if [ ! -f "$corpus/LICENSE.TXT" ]; then
  rm -rf "$corpus"
  bash "$root/bench/make-corpus.sh" "$corpus"
fi

archives=()
for method in lh6 lh5 lh0; do
  archive=$out/corpus-$method.lzh
  if [ ! -f "$archive" ] || [ -n "$(find "$corpus" -newer "$archive" -print -quit)" ]; then
    "$build/vorpanex" pack -m "$method" --archive-only --no-setup --mtime 2025-01-01 \
      -o "$archive" "$corpus" >/dev/null
  fi
  archives+=("$archive")
done

fixtures=("$root"/tests/data/fixtures/fx-lh*.lzh)
echo "bench_decode, best of $repeats, $(nproc) CPUs, $(uname -m)"
"$build/bench/bench_decode" --repeats "$repeats" "${archives[@]}" "${fixtures[@]}"
