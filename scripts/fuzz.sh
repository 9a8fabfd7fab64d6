#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# runs each for FUZZ_SECONDS, prints the executions (and executions per second, by the
# clock and per second of CPU time, which a busy machine does not dilute) and findings
# per target, and exits non-zero when any target found a crash, a hang or a leak.
#
#   FUZZ_SECONDS   seconds per target (default 60)
#   FUZZ_TARGETS   targets to run (default: headers decoder extract pack brand
#                  decoder_i686; extract_i686 on request)
#   FUZZ_MAX_LEN   largest input the fuzzer makes (default 16384)
#   FUZZ_BUILD_DIR build directory (default: build/fuzz)
#   FUZZ_JOBS      targets fuzzed at the same time (default 2, one per core)
#
# Each target grows its own corpus in $FUZZ_BUILD_DIR/corpus/<target>, seeded from the
# committed tests/fuzz/corpus/<target> and tests/fuzz/regressions/<target>. A crashing
# or hanging input is left in $FUZZ_BUILD_DIR/findings/<target>/: minimise it, commit it
# to tests/fuzz/regressions/<target>/ and fix the fault.
#
# A target named <target>_i686 is <target> built for 32-bit x86 (clang -m32) with -Os,
# as the stub is, in $FUZZ_BUILD_DIR-i686: only that build compiles the stub's own
# symbol loop (DecodeFast32); its decoder target also checks every chunk against the
# bytewise decoder. It is seeded like <target>, plus regressions/<target>_i686. Clang
# cannot honour the per-function optimize attributes of that loop, so after fuzzing, the
# grown corpus is replayed through the target built by g++ -m32 (the stub's compiler)
# with the sanitizers, in $FUZZ_BUILD_DIR-i686-gcc.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}
seconds=${FUZZ_SECONDS:-60}
build32=$build-i686
build32_gcc=$build-i686-gcc
targets=${FUZZ_TARGETS:-headers decoder extract pack brand decoder_i686}
max_len=${FUZZ_MAX_LEN:-16384}

if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ is needed for libFuzzer (apt-get install clang)" >&2
    exit 2
fi

targets64=() targets32=()
for target in $targets; do
    case "$target" in
        *_i686) targets32+=("${target%_i686}") ;;
        *) targets64+=("$target") ;;
    esac
done

# The fuzz targets' CMake file adds libFuzzer's coverage and the sanitizers itself.
if [ "${#targets64[@]}" -gt 0 ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORPANEX_FUZZ=ON >/dev/null
    for target in "${targets64[@]}"; do
        cmake --build "$build" -j 2 --target "fuzz_$target"
    done
fi

# The 32-bit builds: MinSizeRel is the stub's -Os, which selects its symbol loop. They
# need 32-bit runtimes and a machine that runs 32-bit code natively (under qemu-user,
# as scripts/enable-i386.sh sets up for Wine, the sanitizers cannot map their memory);
# elsewhere the i686 targets are skipped with the reason.
skipped32=""
if [ "${#targets32[@]}" -gt 0 ]; then
    probe=$(mktemp -d)
    echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' \
        >"$probe/probe.cpp"
    echo 'int main() {}' >"$probe/main.cpp"
    if ! clang++ -m32 -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" \
            -o "$probe/clang" >"$probe/log" 2>&1 ||
       ! g++ -m32 -fsanitize=address,undefined "$probe/main.cpp" -o "$probe/gcc" >>"$probe/log" 2>&1; then
        skipped32="clang's or g++'s 32-bit runtimes are missing (scripts/install-deps.sh"
        skipped32+=" installs them: gcc-multilib g++-multilib libclang-rt-14-dev)"
        sed 's/^/fuzz.sh:   /' "$probe/log" | head -n 5 >&2
    elif [ -e /proc/sys/fs/binfmt_misc/vorpanex-i386 ] ||
         ! timeout 60 "$probe/clang" -runs=1 >"$probe/log" 2>&1 ||
         ! timeout 60 "$probe/gcc" >>"$probe/log" 2>&1; then
        skipped32="32-bit programs do not run natively here"
    fi
    rm -rf "$probe"
    if [ -n "$skipped32" ]; then
        echo "fuzz.sh: the i686 targets are skipped: $skipped32" >&2
    fi
fi
if [ "${#targets32[@]}" -gt 0 ] && [ -z "$skipped32" ]; then
    for compiler in clang gcc; do
        if [ "$compiler" = clang ]; then
            dir=$build32 cc=clang cxx=clang++ options=(-DVORPANEX_FUZZ=ON)
        else
            dir=$build32_gcc cc=gcc cxx=g++ options=(-DVORPANEX_SANITIZE=ON)
        fi
        CC=$cc CXX=$cxx cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=MinSizeRel \
            -DCMAKE_C_FLAGS="-m32 -g" -DCMAKE_CXX_FLAGS="-m32 -g" -DCMAKE_EXE_LINKER_FLAGS=-m32 \
            -DVORPANEX_FUZZ_ONLY=ON "${options[@]}" >/dev/null
    done
    for target in "${targets32[@]}"; do
        cmake --build "$build32" -j 2 --target "fuzz_$target"
        cmake --build "$build32_gcc" -j 2 --target "replay_$target"
        # Without the loop in the binary the target would fuzz the portable path only.
        for binary in "$build32/tests/fuzz/fuzz_$target" "$build32_gcc/tests/fuzz/replay_$target"; do
            if ! nm -C "$binary" | grep 'DecodeFast32(' >/dev/null; then
                echo "fuzz.sh: $binary has no DecodeFast32: the stub's loop would not be fuzzed" >&2
                exit 2
            fi
        done
    done
fi

# The targets' scratch files (extracted members) go to memory where the machine has it.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

# One target's run; its summary line goes to $build/fuzz-<target>.result.
fuzz_one() {
    local target=$1
    local base=${target%_i686}
    local binary=$build/tests/fuzz/fuzz_$target replay=""
    if [ "$base" != "$target" ]; then
        binary=$build32/tests/fuzz/fuzz_$base
        replay=$build32_gcc/tests/fuzz/replay_$base
    fi
    local corpus=$build/corpus/$target
    local findings=$build/findings/$target
    local log=$build/fuzz-$target.log
    rm -rf "$findings"
    mkdir -p "$corpus" "$findings"
    local seed_dirs=("$root/tests/fuzz/corpus/$base" "$root/tests/fuzz/regressions/$base")
    if [ "$base" != "$target" ]; then seed_dirs+=("$root/tests/fuzz/regressions/$target"); fi
    local seeds=()
    for dir in "${seed_dirs[@]}"; do
        [ -d "$dir" ] && seeds+=("$dir")
    done
    local rc=0
    local TIMEFORMAT='%U %S'
    { time "$binary" -max_total_time="$seconds" -max_len="$max_len" \
        -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
        "$corpus" "${seeds[@]}" >"$log" 2>&1; } 2>"$build/fuzz-$target.cpu" || rc=$?
    # What clang found nothing in, through the code as the stub's compiler builds it.
    local replayed=""
    if [ -n "$replay" ] && [ "$rc" -eq 0 ]; then
        echo "replay through $replay:" >>"$log"
        if "$replay" "$corpus" "${seeds[@]}" >>"$log" 2>&1; then
            replayed=" (replayed through g++ -m32's build too)"
        else
            rc=$?
            replayed=" (its replay through g++ -m32's build failed)"
        fi
    fi
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
         "per CPU second), $found findings, corpus $(ls "$corpus" | wc -l) inputs$replayed:" \
         "$verdict" >"$build/fuzz-$target.result"
}

# Two targets at a time: one per core.
jobs_running=0
mkdir -p "$build"
for target in $targets; do
    rm -f "$build/fuzz-$target.result"
    if [ "$target" != "${target%_i686}" ] && [ -n "$skipped32" ]; then
        echo "fuzz $target: skipped: $skipped32" >"$build/fuzz-$target.result"
        continue
    fi
    echo "fuzzing $target for ${seconds}s (log: $build/fuzz-$target.log)"
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
