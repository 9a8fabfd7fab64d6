#!/usr/bin/env bash
# Installs what the builds and tests need, from Debian's packages only. Idempotent:
# does nothing when everything is present. Runs apt through sudo when not root.
#   install-deps.sh           everything: builds, tests, Wine, fuzzing, benchmarks
#   install-deps.sh --tool    only what building the stub and the tool needs (make tool)
#   install-deps.sh --package that, and dpkg-dev for the package's dependencies
set -euo pipefail

tool_packages=(cmake g++ make g++-mingw-w64-i686 binutils-mingw-w64-i686)
case "${1:-}" in
  --tool) packages=("${tool_packages[@]}") ;;
  --package) packages=("${tool_packages[@]}" dpkg-dev file) ;;
  "")
    packages=(
      "${tool_packages[@]}" python3 libgtest-dev googletest libbenchmark-dev
      clang libclang-rt-14-dev llvm
      wine wine64 wine32:i386 xvfb x11-utils imagemagick locales
      dpkg-dev file groff-base man-db openssl osslsigncode
    ) ;;
  *) echo "usage: $0 [--tool | --package]" >&2; exit 2 ;;
esac

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Wine's 32-bit loader must run: on machines without 32-bit support, through qemu.
if [ -z "${1:-}" ]; then
  "$(dirname "$0")/enable-i386.sh"
fi
