#!/usr/bin/env bash
# Builds the host tests with AddressSanitizer and UndefinedBehaviorSanitizer (the
# `sanitize` preset) and runs them: the unit tests and the replay of the fuzz corpora.
#
#   SANITIZE_BUILD_DIR  build directory (default: build/sanitize, the preset's own)
#   JOBS                parallel build and test jobs (default: 2)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${SANITIZE_BUILD_DIR:-$root/build/sanitize}
jobs=${JOBS:-2}

# Any report is a failure; leaks count too.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

cd "$root"
# The tool's tests pack setups: embed the stub when the Windows build has made one.
stub=()
if [ -f "$root/build/win32/VORPANEX.exe" ]; then
  stub=(-DVORPANEX_STUB_FILE="$root/build/win32/VORPANEX.exe")
fi
cmake --preset sanitize -B "$build" "${stub[@]}" >/dev/null
cmake --build "$build" -j "$jobs"
# The slow tests (files over 2 GiB, memory limits) run in `make test-slow` only: an
# address-sanitized tool reserves more address space than their limits allow.
ctest --test-dir "$build" -j "$jobs" --output-on-failure -LE slow
