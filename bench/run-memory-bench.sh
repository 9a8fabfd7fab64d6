#!/usr/bin/env bash
# pack's peak memory against its input's size: packs one file of each size (random
# bytes, the worst case for the parser's tokens; a sparse file of zeros for the 2 GB
# one, which is what disk space allows) with the default and with --best, one job,
# and prints the peak resident set size (getrusage of the child, via GNU time).
# Usage: bench/run-memory-bench.sh [BUILD_DIR] [SIZES_MB...]  (default build/host;
# 10 300 2000; BEST_MAX_MB: largest input packed with --best, default 300, as 2 GB
# takes about an hour at its speed). Figures only: it never fails on a result.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/host}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10 300 2000)
tool=$build/vorpanex
[ -x "$tool" ] || { echo "run-memory-bench: $tool missing: build the host tool first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "run-memory-bench: needs GNU time (/usr/bin/time)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%-8s %-9s %-8s %10s %12s\n' "input" "kind" "level" "seconds" "peak RSS MB"
for mb in "${sizes[@]}"; do
  input=$work/INPUT.BIN
  if [ "$mb" -ge 1000 ]; then
    kind=zeros
    truncate -s "${mb}000000" "$input"
  else
    kind=random
    head -c "${mb}000000" /dev/urandom >"$input"
  fi
  for level in default best; do
    [ "$level" = best ] && [ "$mb" -gt "${BEST_MAX_MB:-300}" ] && continue
    args=(pack --archive-only --no-setup -q -j1 -o "$work/out.lzh")
    [ "$level" = best ] && args+=(--best)
    /usr/bin/time -f '%e %M' -o "$work/time" "$tool" "${args[@]}" "$input" || true
    read -r seconds kb <"$work/time"
    awk -v m="${mb} MB" -v k="$kind" -v l="$level" -v s="$seconds" -v r="$kb" \
      'BEGIN { printf "%-8s %-9s %-8s %10s %12.1f\n", m, k, l, s, r / 1024 }'
    rm -f "$work/out.lzh"
  done
  rm -f "$input"
done
