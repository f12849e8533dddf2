#!/usr/bin/env bash
# Configures and builds the program and its companion files into BUILD_DIR/bin.
#   scripts/build.sh                 release build in build/
#   SANITIZE=1 scripts/build.sh      AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

# Extra configure options from the caller (the test build leaves the benchmarks out).
extra=(${CMAKE_EXTRA:-})
# Paths below the checkout are hashed relative to it, and the build folder's own path is left
# out of the hash (it is only written into the debug information), so every checkout and
# worktree shares the cache.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
# ccache, where present, keeps rebuilds of unchanged files cheap.
if command -v ccache >/dev/null 2>&1; then
    extra+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

sanitize=${SANITIZE:-0}
if [ "$sanitize" = 1 ]; then
    dir=${BUILD_DIR:-build-asan}
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTOREL_SANITIZE=ON \
        -DVANTOREL_WERROR=${WERROR:-OFF} "${extra[@]}"
else
    dir=${BUILD_DIR:-build}
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVANTOREL_WERROR=${WERROR:-OFF} "${extra[@]}"
fi
cmake --build "$dir" -j "$(nproc)"
