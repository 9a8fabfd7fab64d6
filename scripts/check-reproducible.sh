#!/usr/bin/env bash
# Builds the stub twice, from copies of the source in two different folders, one after
# the other, and checks that both VORPANEX.exe files are the same bytes: the stub holds
# no time stamp and no build path, so anyone can rebuild a setup's stub and compare.
# The same for vorpanex.exe, the tool for Windows (with the stub built into it), where
# its cross compiler is installed.
#
#   scripts/check-reproducible.sh [KEEP_DIR]
#
# Prints the SHA-256 of each; exits 1 when two builds differ.
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
  if [ -n "$windows_tool" ]; then
    (cd "$source" &&
       cmake --preset win64 -DBUILD_TESTING=OFF -DVORPANEX_STUB_FILE="$source/build/win32/VORPANEX.exe" >/dev/null &&
       cmake --build build/win64 --target vorpanex -j "$jobs" >/dev/null)
  fi
}

windows_tool=""
if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then windows_tool=yes; fi

first=$work/first
second=$work/the-second-build/in/a/deeper/folder
build "$first"
sleep 2
build "$second"

status=0
compare() {
  local a=$first/$1 b=$second/$1 name
  name=$(basename "$1")
  sha256sum "$a" "$b" | sed "s|$work/||"
  if cmp "$a" "$b"; then
    echo "reproducible: both builds of $name are the same $(stat -c %s "$a") bytes"
  else
    echo "NOT reproducible: the two builds of $name differ" >&2
    status=1
  fi
}
compare build/win32/VORPANEX.exe
if [ -n "$windows_tool" ]; then
  compare build/win64/vorpanex.exe
else
  echo "reproducible: x86_64-w64-mingw32-g++-posix is missing; vorpanex.exe not checked"
fi
exit $status
