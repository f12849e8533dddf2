#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and UBSan) into
# build-fuzz/ and runs each for SECONDS (default 60) on its committed corpus plus the
# inputs it finds. Prints per target the executions, executions per second and coverage
# features; any crash, hang (over 2 s for one input), leak, sanitizer report or failed
# property is a finding, printed with the command that replays it, and makes the script
# exit 1.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-60}
shift || true
scripts/install-deps.sh

dir=${BUILD_DIR:-build-fuzz}
launcher=()
if command -v ccache >/dev/null 2>&1; then
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
    export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVANTOREL_FUZZ=ON "${launcher[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"

targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
    for bin in "$dir"/fuzz/fuzz_*; do
        [ -f "$bin" ] && [ -x "$bin" ] && targets+=("${bin##*/fuzz_}")
    done
fi

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# The corpus grows in the build folder; the committed seeds stay as they are.
findings=0
printf '%-20s %12s %10s %10s  %s\n' target executions exec/s features result
for name in "${targets[@]}"; do
    bin=$dir/fuzz/fuzz_$name
    corpus=$dir/corpus/$name
    artifacts=$dir/findings/$name
    log=$dir/logs/$name.log
    # Earlier runs' findings stay for replaying; this run's are those newer than the stamp.
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    stamp=$artifacts/.started
    touch "$stamp"
    seeds=()
    [ -d fuzz/corpus/$name ] && seeds=("fuzz/corpus/$name")
    options=(-max_total_time="$seconds" -timeout=2 -rss_limit_mb=2560 -max_len=65536
             -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$artifacts/")
    [ -f fuzz/dict/$name.dict ] && options+=(-dict="fuzz/dict/$name.dict")
    status=0
    "$bin" "${options[@]}" "$corpus" "${seeds[@]}" >"$log" 2>&1 || status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    features=$({ grep -oE 'ft: [0-9]+' "$log" || true; } | tail -1 | cut -d' ' -f2)
    found=$(find "$artifacts" -type f ! -name .started -newer "$stamp" | head -1)
    if [ "$status" -ne 0 ] || [ -n "$found" ]; then
        findings=$((findings + 1))
        printf '%-20s %12s %10s %10s  %s\n' "$name" "${executions:-?}" "${rate:-?}" \
            "${features:-?}" "FINDING (exit $status)"
        { grep -E '^(==[0-9]+==ERROR|SUMMARY|property failed|.*runtime error)' "$log" || true; } \
            | head -5 | sed 's/^/    /'
        [ -n "$found" ] && echo "    replay: $root/$bin $root/$found"
        echo "    log: $root/$log"
    else
        printf '%-20s %12s %10s %10s  %s\n' "$name" "$executions" "$rate" "$features" clean
    fi
done
if [ "$findings" -gt 0 ]; then
    echo "fuzz: $findings target(s) with findings" >&2
    exit 1
fi
