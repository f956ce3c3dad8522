#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh full
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
# The microbenchmark runs briefly, so that it cannot rot; its timings are not checked.
./build/rewrite_bench --benchmark_min_time=0.01

# The Windows executable, cross-built with MinGW-w64, and the whole suite again under Wine.
export WINEDEBUG=-all
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DCORVANE_WERROR=ON >/dev/null
cmake --build build-win -j"$(nproc)"
ctest --test-dir build-win --output-on-failure -j"$(nproc)"
