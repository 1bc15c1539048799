#!/usr/bin/env bash
# Installs what Quellora needs, builds a release build into build/release and
# runs it: for now, the offline leveller on a demo clip the build generates,
# printing the loudness before and after.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUELLORA_BUILD_TESTS=OFF -DQUELLORA_BUILD_BENCH=OFF >/dev/null
cmake --build build/release --parallel "$(nproc 2>/dev/null || echo 2)"

demo=build/release/demo
exec build/release/src/cli/quellora process "$demo/dialogue-and-action.wav" \
    "$demo/dialogue-and-action-levelled.wav"
