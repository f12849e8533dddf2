#!/usr/bin/env bash
# Builds with coverage into build-coverage/ (Debug, no sanitizers, no benchmarks), runs the
# whole test suite and prints the line and branch coverage of src/ and tools/ (gcovr).
# Not part of CI. The per-file report is left in build-coverage/coverage.txt. Extra
# arguments go to ctest (for example -L unit).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dir=${BUILD_DIR:-build-coverage}

launcher=()
if command -v ccache >/dev/null 2>&1; then
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTOREL_BENCH=OFF \
    -DCMAKE_C_FLAGS=--coverage "-DCMAKE_CXX_FLAGS=--coverage -DVANTOREL_COVERAGE" \
    -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage \
    -DCMAKE_MODULE_LINKER_FLAGS=--coverage "${launcher[@]}"
cmake --build "$dir" -j "$(nproc)"

# Counters from an earlier run would add up with this one.
find "$dir" -name '*.gcda' -delete
export QT_QPA_PLATFORM=offscreen
status=0
(cd "$dir" && ctest --output-on-failure -j "$(nproc)" "$@") || status=$?

gcovr --root "$root" --object-directory "$dir" \
    --filter "$root/src/" --filter "$root/tools/" \
    --exclude-unreachable-branches --exclude-throw-branches \
    --gcov-ignore-parse-errors \
    --print-summary --txt "$dir/coverage.txt"
exit $status
