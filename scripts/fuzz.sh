#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# runs each for FUZZ_SECONDS, prints the executions and findings per target, and exits
# non-zero when any target found a crash, a hang or a leak.
#
#   FUZZ_SECONDS   seconds per target (default 60)
#   FUZZ_TARGETS   targets to run (default: headers decoder extract)
#   FUZZ_MAX_LEN   largest input the fuzzer makes (default 16384)
#   FUZZ_BUILD_DIR build directory (default: build/fuzz)
#
# Each target grows its own corpus in $FUZZ_BUILD_DIR/corpus/<target>, seeded from the
# committed tests/fuzz/corpus/<target> and tests/fuzz/regressions/<target>. A crashing
# or hanging input is left in $FUZZ_BUILD_DIR/findings/<target>/: minimise it, commit it
# to tests/fuzz/regressions/<target>/ and fix the fault.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}
seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-headers decoder extract}
max_len=${FUZZ_MAX_LEN:-16384}

if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ is needed for libFuzzer (apt-get install clang)" >&2
    exit 2
fi

sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORPANEX_FUZZ=ON \
    -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link $sanitizers" \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link $sanitizers" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
for target in $targets; do
    cmake --build "$build" -j 2 --target "fuzz_$target"
done

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

status=0
summary=""
for target in $targets; do
    corpus=$build/corpus/$target
    findings=$build/findings/$target
    log=$build/fuzz-$target.log
    mkdir -p "$corpus" "$findings"
    seeds=()
    for dir in "$root/tests/fuzz/corpus/$target" "$root/tests/fuzz/regressions/$target"; do
        [ -d "$dir" ] && seeds+=("$dir")
    done
    echo "fuzzing $target for ${seconds}s (log: $log)"
    set +e
    "$build/fuzz_$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
        "$corpus" "${seeds[@]}" >"$log" 2>&1
    rc=$?
    set -e
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    found=$(find "$findings" -type f | wc -l)
    if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
        status=1
        echo "fuzz $target: FINDING (exit $rc); inputs in $findings"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|fuzz check failed|ALARM)' "$log" |
            head -n 20 || true
    fi
    line="fuzz $target: ${seconds}s, ${execs:-0} executions, $found findings, corpus $(ls "$corpus" | wc -l) inputs"
    echo "$line"
    summary+="$line"$'\n'
done
printf '%s' "$summary"
exit $status
