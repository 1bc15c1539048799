#!/usr/bin/env bash
# demo.sh [BUILD_FOLDER]: levels the demo clip that a build generates
# (default build/release) and says where the two files are, how to listen to
# them and what the numbers mean.
set -euo pipefail
build=${1:-build/release}
input=$build/demo/dialogue-and-action.wav
output=$build/demo/dialogue-and-action-levelled.wav
# Standard, with programmes evened out at the panel's default target.
target=-18

"$build/src/cli/quellora" process --target "$target" "$input" "$output"
cat <<EOF

Before: $input
After:  $output (Standard, programmes evened out at $target LUFS)
Listen to both with: pw-play FILE   (or: paplay FILE)
loudness: the clip's average loudness, in LUFS. range: how far its quiet and
loud parts lie apart, in LU; levelling makes it smaller. true peak: its
highest level, in dBTP; 0 is full scale.
EOF
