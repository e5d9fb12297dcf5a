#!/usr/bin/env bash
# Times `zep convert --frames` on a 24-frame RLA sequence one frame at a
# time (-j 1) and two frames at a time (-j 2): the best of 3 runs of each,
# then checks that both wrote the same bytes and prints the two times and
# their ratio.
#
# The frames are 2048x1556 with three colour channels, a matte and a depth
# channel, all 16-bit noise: about 32 MB each, so the sequence and the two
# runs' outputs take about 2.3 GB of the temporary folder while the script
# runs. They are made with the tool itself.
#
# Usage: bench/convert_frames.sh [BUILD_DIR]
# BUILD_DIR is a build tree of the project (default: build/default); time an
# optimised build without sanitizers. Not run by CI.
set -euo pipefail

build=${1:-build/default}
zep=$build/tools/zep/zep
[[ -x $zep ]] || { echo "convert_frames.sh: no zep tool at $zep (build zep-tool first)" >&2; exit 2; }
export ZEP_PLUGIN_PATH=$build/plugins

frames=24 width=2048 height=1556 runs=3
work=$(mktemp -d "${TMPDIR:-/tmp}/zep-frames-XXXXXX")
trap 'rm -rf "$work"' EXIT

for ((f = 1; f <= frames; f++)); do
    "$zep" pattern "$work/in.$(printf %04d "$f").rla" --width "$width" --height "$height" \
        --matte 1 --aux 1 --type int16 --pattern noise --seed "$f" >/dev/null
done

# best JOBS: converts the sequence into $work/jJOBS, $runs times; prints the
# shortest wall-clock time in seconds.
best() {
    local jobs=$1 best="" start end t
    for ((run = 1; run <= runs; run++)); do
        rm -rf "$work/j$jobs"
        mkdir "$work/j$jobs"
        start=$(date +%s.%N)
        "$zep" convert "$work/in.0001.rla" "$work/j$jobs/out.0001.rla" --frames "1-$frames" \
            -j "$jobs" >/dev/null
        end=$(date +%s.%N)
        t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
        if [[ -z $best ]] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
    done
    echo "$best"
}

one=$(best 1)
two=$(best 2)

same=identical
for ((f = 1; f <= frames; f++)); do
    name=out.$(printf %04d "$f").rla
    cmp -s "$work/j1/$name" "$work/j2/$name" || { same="DIFFERENT (first: $name)"; break; }
done

echo "zep convert --frames 1-$frames: ${width}x${height}, 3 colour, 1 matte, 1 depth channel of int16" \
    "noise, RLA to RLA, best of $runs runs, $(nproc) cores"
echo "  -j 1: $one s"
echo "  -j 2: $two s"
awk -v a="$one" -v b="$two" 'BEGIN { printf "  -j 1 / -j 2: %.2f\n", a / b }'
echo "  outputs of -j 1 and -j 2: $same"
[[ $same == identical ]]
