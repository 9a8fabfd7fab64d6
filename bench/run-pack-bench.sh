#!/usr/bin/env bash
# Packer benchmark: packs the corpus with each method and level and prints the size,
# the ratio against the reference archiver's sizes, the time and the speed.
# Usage: bench/run-pack-bench.sh [BUILD_DIR]   (default build/host; needs wine32:i386
# for the corpus). Figures only: it never fails on a slow or large result.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/host}
tool=$build/vorpanex
corpus=$root/build/bench/corpus
[ -x "$tool" ] || { echo "run-pack-bench: $tool missing: build the host tool first" >&2; exit 1; }
if [ ! -d "$corpus" ]; then
  "$root/bench/make-corpus.sh" "$corpus"
fi
original=$(find "$corpus" -type f -printf '%s\n' | awk '{s+=$1} END {print s}')
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Sizes of the corpus packed by an independent archiver, and its times.
declare -A reference=([lh6]=19088603 [lh5]=19804552)
declare -A referenceSeconds=([lh6]=4.6 [lh5]=3.8)

printf '%-12s %-5s %12s %9s %9s %8s %9s\n' "packer" "jobs" "bytes" "vs ref" "seconds" "MB/s" "ref s"
for method in lh6 lh5; do
  for level in default best; do
    for jobs in 1 2; do
      [ "$level" = best ] && [ "$jobs" = 1 ] && continue
      args=(pack --archive-only --no-setup -m "$method" -j "$jobs" -o "$out/c.lzh")
      [ "$level" = best ] && args+=(--best)
      start=$(date +%s.%N)
      "$tool" "${args[@]}" "$corpus" >/dev/null
      end=$(date +%s.%N)
      size=$(stat -c %s "$out/c.lzh")
      awk -v n="$method $level" -v j="$jobs" -v s="$size" -v r="${reference[$method]}" \
          -v t0="$start" -v t1="$end" -v o="$original" -v rs="${referenceSeconds[$method]}" \
          'BEGIN { t = t1 - t0; printf "%-12s %-5s %12d %9.4f %9.2f %8.1f %9.1f\n",
                   n, j, s, s / r, t, o / t / 1e6, rs }'
    done
  done
done
"$tool" test "$out/c.lzh" >/dev/null && echo "last archive tests OK"
echo "corpus: $original bytes; targets: default <= 0.975 of ref at >= 4x its speed," \
     "--best <= 0.945 of ref within 4x its time"
