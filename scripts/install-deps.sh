#!/usr/bin/env bash
# Installs what the builds and tests need, from Debian's packages only. Idempotent:
# does nothing when everything is present. Runs apt through sudo when not root.
#   install-deps.sh           everything: builds, tests, Wine, fuzzing, benchmarks
#   install-deps.sh --tool    only what building the stub and the tool needs (make tool)
#   install-deps.sh --package that, and dpkg-dev for the package's dependencies
set -euo pipefail

tool_packages=(cmake g++ make g++-mingw-w64-i686 binutils-mingw-w64-i686
               g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64)
case "${1:-}" in
  --tool) packages=("${tool_packages[@]}") ;;
  --package) packages=("${tool_packages[@]}" dpkg-dev file lintian zip) ;;
  "")
    # The i686 fuzz build (scripts/fuzz.sh) takes clang's 32-bit runtimes from
    # libclang-rt-14-dev and the 32-bit C and C++ libraries from the multilib packages.
    packages=(
      "${tool_packages[@]}" python3 libgtest-dev googletest libbenchmark-dev
      clang libclang-rt-14-dev llvm gcc-multilib g++-multilib
      wine wine64 wine32:i386 xvfb x11-utils imagemagick locales
      dpkg-dev file groff-base man-db openssl osslsigncode lintian zip
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
  # A mirror in the middle of a sync fails one index or another for a few minutes
  # ("File has unexpected size"). Try the update again a few times; if an index still
  # fails, go on: what we need usually comes from the indexes that did download.
  for attempt in 1 2 3 4; do
    if "${sudo[@]}" apt-get update -qq; then break; fi
    if [ "$attempt" -eq 4 ]; then
      echo "install-deps: apt-get update still reports a failed index; trying the install anyway" >&2
      break
    fi
    echo "install-deps: apt-get update failed (attempt $attempt of 4); trying again in $((attempt * 10)) s" >&2
    sleep $((attempt * 10))
  done
  # Explains, for the packages given, which have no installable version and why.
  explain() {
    local package candidate
    for package in "$@"; do
      candidate=$(apt-cache policy "$package" 2>/dev/null | awk '/Candidate:/ {print $2}')
      if [ -z "$candidate" ] || [ "$candidate" = "(none)" ]; then
        echo "install-deps:   $package: no installable version (an index failed to download, or no configured repository has it)" >&2
      elif ! apt-get install -s -y -qq "$package" >/dev/null 2>&1; then
        echo "install-deps:   $package ($candidate): its dependencies cannot be met; apt-get says:" >&2
        apt-get install -s -y -qq "$package" 2>&1 | grep -E '^ |^E:' | head -5 | sed 's/^/install-deps:     /' >&2
      fi
    done
  }
  if ! "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null; then
    # Wine only runs the tests under Windows, and the multilib packages only build the
    # i686 fuzz targets; both are skipped where these are missing. Everything else is
    # needed. Try once more without them before giving up.
    needed=() optional=()
    for package in "${missing[@]}"; do
      case "$package" in
        wine|wine64|wine32:i386|gcc-multilib|g++-multilib) optional+=("$package") ;;
        *) needed+=("$package") ;;
      esac
    done
    retry="${sudo[*]:+${sudo[*]} }apt-get update && ${sudo[*]:+${sudo[*]} }apt-get install ${missing[*]}"
    if [ "${#optional[@]}" -gt 0 ] && { [ "${#needed[@]}" -eq 0 ] ||
         "${sudo[@]}" apt-get install -y -qq "${needed[@]}" >/dev/null; }; then
      echo "install-deps: ${optional[*]} could not be installed: without Wine the tests" \
           "under Wine are skipped, without the multilib packages the i686 fuzz targets:" >&2
      explain "${optional[@]}"
      echo "install-deps: to retry: $retry" >&2
    else
      echo "install-deps: apt-get install failed for some of: ${missing[*]}" >&2
      explain "${missing[@]}"
      echo "install-deps: to retry: $retry" >&2
      exit 100
    fi
  fi
fi

# Wine's 32-bit loader must run: on machines without 32-bit support, through qemu.
if [ -z "${1:-}" ]; then
  "$(dirname "$0")/enable-i386.sh"
fi
