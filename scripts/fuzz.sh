#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz) with clang, AddressSanitizer and
# UBSan, and runs each from the checked-in seed corpus for
# QUELLORA_FUZZ_SECONDS seconds (default 30). Fails on the first crash, leak,
# time-out or memory blow-up; the input that caused it is left in
# .build/fuzz/artifacts/TARGET/ to become a regression test.
#   scripts/fuzz.sh                                    every target
#   QUELLORA_FUZZ_SECONDS=600 scripts/fuzz.sh update_feed_fuzzer
# What a run found stays in .build/fuzz/corpus/TARGET for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${QUELLORA_FUZZ_SECONDS:-30}
build=.build/fuzz
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    targets=(settings_file_fuzzer saved_presets_fuzzer update_feed_fuzzer process_input_fuzzer)
fi

# Only the fuzz targets and what they link are built; clang's extra warnings
# in code that g++ 12 builds cleanly do not stop them.
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUELLORA_DEV_BUILD=ON -DQUELLORA_SANITIZE=fuzzer -DQUELLORA_WARNINGS_AS_ERRORS=OFF \
    -DQUELLORA_BUILD_TESTS=OFF -DQUELLORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target quellora_fuzzers --parallel "$(nproc 2>/dev/null || echo 2)"

for target in "${targets[@]}"; do
    corpus="$build/corpus/$target" artifacts="$build/artifacts/$target" log="$build/logs/$target.log"
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    echo "-- $target: ${seconds} s"
    if ! ASAN_OPTIONS=detect_leaks=1 "$build/tests/fuzz/$target" -max_total_time="$seconds" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
        "$corpus" "tests/fuzz/corpus/${target%_fuzzer}" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "$target failed; the input is in $artifacts/" >&2
        exit 1
    fi
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log"
done
