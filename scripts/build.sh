#!/usr/bin/env bash
# Configures and builds the program and its companion files into BUILD_DIR/bin.
#   scripts/build.sh                 release build in build/
#   SANITIZE=1 scripts/build.sh      AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=${SANITIZE:-0}
if [ "$sanitize" = 1 ]; then
    dir=${BUILD_DIR:-build-asan}
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTOREL_SANITIZE=ON \
        -DVANTOREL_WERROR=${WERROR:-OFF}
else
    dir=${BUILD_DIR:-build}
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVANTOREL_WERROR=${WERROR:-OFF}
fi
cmake --build "$dir" -j "$(nproc)"
