#!/usr/bin/env bash
# Installs what Quellora needs, builds a release build into build/release and
# runs it: in a desktop session with PipeWire, the tray application; anywhere
# else (a server, a container, CI), the offline leveller on a demo clip the
# build generates (scripts/demo.sh), printing the loudness before and after
# and how to listen to both.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUELLORA_BUILD_TESTS=OFF -DQUELLORA_BUILD_BENCH=OFF >/dev/null
cmake --build build/release --parallel "$(nproc 2>/dev/null || echo 2)"

quellora=build/release/src/cli/quellora
if [[ -e "${XDG_RUNTIME_DIR:-/nonexistent}/pipewire-0" &&
      ( -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ) ]]; then
    exec "$quellora"
fi

exec scripts/demo.sh build/release
