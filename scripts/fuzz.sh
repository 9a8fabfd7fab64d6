#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# runs each for FUZZ_SECONDS, prints the executions (and executions per second, by the
# clock and per second of CPU time, which a busy machine does not dilute) and findings
# per target, and exits non-zero when any target found a crash, a hang or a leak.
#
#   FUZZ_SECONDS   seconds per target (default 60)
#   FUZZ_TARGETS   targets to run (default: headers decoder extract pack brand)
#   FUZZ_MAX_LEN   largest input the fuzzer makes (default 16384)
#   FUZZ_BUILD_DIR build directory (default: build/fuzz)
#   FUZZ_JOBS      targets fuzzed at the same time (default 2, one per core)
#
# Each target grows its own corpus in $FUZZ_BUILD_DIR/corpus/<target>, seeded from the
# committed tests/fuzz/corpus/<target> and tests/fuzz/regressions/<target>. A crashing
# or hanging input is left in $FUZZ_BUILD_DIR/findings/<target>/: minimise it, commit it
# to tests/fuzz/regressions/<target>/ and fix the fault.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}
seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-headers decoder extract pack brand}
max_len=${FUZZ_MAX_LEN:-16384}

if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ is needed for libFuzzer (apt-get install clang)" >&2
    exit 2
fi

# The fuzz targets' CMake file adds libFuzzer's coverage and the sanitizers itself.
CC=clang CXX=clang++ cmake -S "$root" -B "$build" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORPANEX_FUZZ=ON >/dev/null
for target in $targets; do
    cmake --build "$build" -j 2 --target "fuzz_$target"
done

# The targets' scratch files (extracted members) go to memory where the machine has it.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

# One target's run; its summary line goes to $build/fuzz-<target>.result.
fuzz_one() {
    local target=$1
    local corpus=$build/corpus/$target
    local findings=$build/findings/$target
    local log=$build/fuzz-$target.log
    rm -rf "$findings"
    mkdir -p "$corpus" "$findings"
    local seeds=()
    for dir in "$root/tests/fuzz/corpus/$target" "$root/tests/fuzz/regressions/$target"; do
        [ -d "$dir" ] && seeds+=("$dir")
    done
    local rc=0
    local TIMEFORMAT='%U %S'
    { time "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len="$max_len" \
        -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
        "$corpus" "${seeds[@]}" >"$log" 2>&1; } 2>"$build/fuzz-$target.cpu" || rc=$?
    local execs rate cpu_rate
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    cpu_rate=$(awk -v n="${execs:-0}" '{ t = $1 + $2; printf "%d", (t > 0 ? n / t : 0) }' \
        "$build/fuzz-$target.cpu")
    local found
    found=$(find "$findings" -type f | wc -l)
    local verdict="ok"
    if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
        verdict="FINDING (exit $rc; inputs in $findings; log $log)"
    fi
    echo "fuzz $target: ${seconds}s, ${execs:-0} executions (${rate:-0}/s, ${cpu_rate:-0}" \
         "per CPU second), $found findings, corpus $(ls "$corpus" | wc -l) inputs:" \
         "$verdict" >"$build/fuzz-$target.result"
}

# Two targets at a time: one per core.
jobs_running=0
for target in $targets; do
    echo "fuzzing $target for ${seconds}s (log: $build/fuzz-$target.log)"
    rm -f "$build/fuzz-$target.result"
    fuzz_one "$target" &
    jobs_running=$((jobs_running + 1))
    if [ "$jobs_running" -ge "${FUZZ_JOBS:-2}" ]; then
        wait -n || true
        jobs_running=$((jobs_running - 1))
    fi
done
wait

status=0
echo "fuzz summary:"
for target in $targets; do
    result=$build/fuzz-$target.result
    if [ ! -f "$result" ]; then
        echo "fuzz $target: no result (the run did not finish)"
        status=1
        continue
    fi
    cat "$result"
    if grep -q FINDING "$result"; then
        status=1
        grep -E '(==[0-9]+==ERROR|SUMMARY|runtime error|fuzz check failed|ALARM)' \
            "$build/fuzz-$target.log" | head -n 20 || true
    fi
done
exit $status
