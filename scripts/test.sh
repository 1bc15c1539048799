#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test:
#   1. a development build with every test label and the formatting check,
#      then the seeded chaos run of the live path on its own;
#   2. an AddressSanitizer + UndefinedBehaviorSanitizer build of the unit tests;
#   3. a ThreadSanitizer build of the tests that run real threads;
#   4. the fuzz targets, each for QUELLORA_FUZZ_SECONDS (default 30) seconds.
# Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh test

jobs=$(nproc 2>/dev/null || echo 2)

configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DQUELLORA_DEV_BUILD=ON "$@" >/dev/null
    cmake --build "$dir" --parallel "$jobs"
}

echo "== Development build: every test"
configure_and_build .build/dev -DCMAKE_BUILD_TYPE=Debug -DQUELLORA_CHECK_FORMAT=ON
ctest --test-dir .build/dev --output-on-failure --parallel "$jobs" -LE chaos
# The chaos run alone: it loads both cores by itself and judges timing.
ctest --test-dir .build/dev --output-on-failure -L chaos

echo "== AddressSanitizer and UndefinedBehaviorSanitizer: unit tests"
configure_and_build .build/asan -DCMAKE_BUILD_TYPE=Debug -DQUELLORA_SANITIZE=address \
    -DQUELLORA_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir .build/asan --output-on-failure --parallel "$jobs" -L unit

echo "== ThreadSanitizer: threaded tests"
configure_and_build .build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELLORA_SANITIZE=thread \
    -DQUELLORA_BUILD_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir .build/tsan --output-on-failure --parallel "$jobs" -R Threaded

echo "== Fuzzing: each target for ${QUELLORA_FUZZ_SECONDS:-30} s"
scripts/fuzz.sh

echo "== All tests passed"
