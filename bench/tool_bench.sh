#!/usr/bin/env bash
# The qvjpeg command's decode to PPM: one thread against two (with the index
# loaded from a file, and built on the way), and against djpeg to PPM.
# Wall-clock seconds, best of the rounds.
#   bash bench/tool_bench.sh build/release/tools/qvjpeg PHOTO.jpg [ROUNDS]
set -euo pipefail
tool=$1 photo=$2 rounds=${3:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Best wall-clock time of the command over the rounds, in seconds.
best_of() {
    local best=
    for ((i = 0; i < rounds; i++)); do
        local start end
        start=$(date +%s%N)
        "$@" >/dev/null
        end=$(date +%s%N)
        local took=$(((end - start) / 1000))
        [[ -z $best || $took -lt $best ]] && best=$took
    done
    awk -v us="$best" 'BEGIN { printf "%.3f", us / 1e6 }'
}

"$tool" index "$photo" "$work/photo.idx"
one=$(best_of "$tool" decode "$photo" "$work/one.ppm")
two=$(best_of "$tool" decode --threads 2 --index "$work/photo.idx" "$photo" "$work/two.ppm")
built=$(best_of "$tool" decode --threads 2 "$photo" "$work/built.ppm")
djpeg=$(best_of sh -c "djpeg -dct int '$photo' > '$work/djpeg.ppm'")
cmp -s "$work/one.ppm" "$work/two.ppm" || { echo "two threads gave other pixels" >&2; exit 1; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "$photo"
echo "  qvjpeg decode, 1 thread:                  $one s"
echo "  qvjpeg decode, 2 threads, index loaded:   $two s  (x$(ratio "$one" "$two"))"
echo "  qvjpeg decode, 2 threads, index built:    $built s  (x$(ratio "$one" "$built"))"
echo "  djpeg -dct int to PPM:                    $djpeg s  (qvjpeg 1 thread takes x$(ratio "$one" "$djpeg"))"
