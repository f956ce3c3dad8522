#!/usr/bin/env bash
# Builds a release tool and times it against a plain copy on a generated 1 GB recording.
# Options go to bench/run.py (--size-mb, --runs, --work).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh bench
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target corvane make_sample >/dev/null
python3 bench/run.py --build build-bench "$@"
