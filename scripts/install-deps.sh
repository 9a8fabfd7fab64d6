#!/usr/bin/env bash
# Installs what the builds and tests need, from Debian's packages only. Idempotent:
# does nothing when everything is present. Runs apt through sudo when not root.
set -euo pipefail

packages=(
  cmake g++ make python3 libgtest-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev llvm
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386 xvfb x11-utils imagemagick locales
)

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
