#!/usr/bin/env bash
# demo.sh [BUILD_FOLDER]: levels the demo clip that a build generates
# (default build/release) and says where the two files are, how to listen to
# them and what the numbers mean.
set -euo pipefail
build=${1:-build/release}
input=$build/demo/dialogue-and-action.wav
output=$build/demo/dialogue-and-action-levelled.wav
# The place for a loudness target once `quellora process` takes one; the
# text below then says what it is.
options=()

"$build/src/cli/quellora" process "${options[@]}" "$input" "$output"
cat <<EOF

Before: $input
After:  $output
Listen to both with: pw-play FILE   (or: paplay FILE)
loudness: the clip's average loudness, in LUFS. range: how far its quiet and
loud parts lie apart, in LU; levelling makes it smaller. true peak: its
highest level, in dBTP; 0 is full scale.
EOF
