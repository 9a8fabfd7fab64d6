#!/usr/bin/env bash
# Builds the stub twice, from copies of the source in two different folders, one after
# the other, and checks that both VORPANEX.exe files are the same bytes: the stub holds
# no time stamp and no build path, so anyone can rebuild a setup's stub and compare.
#
#   scripts/check-reproducible.sh [KEEP_DIR]
#
# Prints the SHA-256 of the stub; exits 1 when the two builds differ.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$(mktemp -d /tmp/vorpanex-reproducible.XXXXXX)}
mkdir -p "$work"
trap '[ -n "${1:-}" ] || rm -rf "$work"' EXIT
jobs=${JOBS:-2}

build() {
  local source=$1
  mkdir -p "$source"
  # The tracked files as they are in the working tree.
  (cd "$root" && git ls-files -z | tar --null -T - -cf -) | tar -xf - -C "$source"
  (cd "$source" && cmake --preset win32 >/dev/null &&
     cmake --build build/win32 --target vorpanex_stub -j "$jobs" >/dev/null)
}

first=$work/first
second=$work/the-second-build/in/a/deeper/folder
build "$first"
sleep 2
build "$second"

a=$first/build/win32/VORPANEX.exe
b=$second/build/win32/VORPANEX.exe
sha256sum "$a" "$b" | sed "s|$work/||"
if cmp "$a" "$b"; then
  echo "reproducible: both builds of VORPANEX.exe are the same $(stat -c %s "$a") bytes"
else
  echo "NOT reproducible: the two builds of VORPANEX.exe differ" >&2
  exit 1
fi
