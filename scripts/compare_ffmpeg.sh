#!/usr/bin/env bash
# Times pelorin-convert against FFmpeg's own palette filter on the same job, side by side in one
# run: the whole video scaled to 128 × 240, reduced to the 16 TVC colours with Floyd–Steinberg
# dithering, written as FFV1 (32-bit RGB) in Matroska.
#
#   compare_ffmpeg.sh [BUILD_DIR] [VIDEO]      (defaults: build, BUILD_DIR/tom.avi; RUNS=3)
#
# Each command runs RUNS times; the fastest wall-clock time of each is compared. FFmpeg gets the
# fixed palette as a 16 × 16 picture (paletteuse wants 256 entries; each row holds the 16
# colours), so neither side spends time choosing colours.
set -euo pipefail

build="${1:-build}"
video="${2:-$build/tom.avi}"
runs="${RUNS:-3}"
ffmpeg="${FFMPEG:-ffmpeg}"
tool="$build/pelorin-convert"
[[ -x "$tool" ]] || { echo "compare_ffmpeg.sh: no $tool; build first" >&2; exit 1; }
[[ -f "$video" ]] || { echo "compare_ffmpeg.sh: no video '$video'" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The "Graphics 16" palette: index bit 0 blue, 1 red, 2 green; bit 3 picks 255 over 145.
palette="$work/tvc16.ppm"
{
    printf 'P6\n16 16\n255\n'
    for row in $(seq 16); do
        for i in $(seq 0 15); do
            level=$(( (i & 8) ? 255 : 145 ))
            r=$(( (i & 2) ? level : 0 )); g=$(( (i & 4) ? level : 0 )); b=$(( (i & 1) ? level : 0 ))
            printf "\\$(printf %03o "$r")\\$(printf %03o "$g")\\$(printf %03o "$b")"
        done
    done
} > "$palette"

now_ns() { date +%s%N; }

best_of() { # best_of NAME COMMAND... ; prints the fastest time in seconds
    local name="$1" best="" start end t
    shift
    for _ in $(seq "$runs"); do
        start=$(now_ns)
        "$@" > "$work/$name.log" 2>&1 || { cat "$work/$name.log" >&2; exit 1; }
        end=$(now_ns)
        t=$(( end - start ))
        if [[ -z "$best" || $t -lt $best ]]; then best=$t; fi
    done
    awk -v ns="$best" 'BEGIN { printf "%.3f", ns / 1e9 }'
}

pelorin_s=$(best_of pelorin "$tool" --quiet --mode 16 --method floyd --working \
    "$video" "$work/pelorin.mkv")
ffmpeg_s=$(best_of ffmpeg "$ffmpeg" -nostdin -hide_banner -loglevel error -y -i "$video" \
    -i "$palette" \
    -lavfi "[0:v]scale=128:240:flags=area[s];[s][1:v]paletteuse=dither=floyd_steinberg:diff_mode=none" \
    -an -c:v ffv1 -pix_fmt bgr0 "$work/ffmpeg.mkv")

frames=$(grep -o 'frames written: [0-9]*' "$work/pelorin.log" | grep -o '[0-9]*$')
stopwatch=$(grep 'conversion per frame' "$work/pelorin.log" | sed 's/.*: //')

echo "video:            $video ($frames frames)"
echo "pelorin-convert:  ${pelorin_s} s   (fastest of $runs)"
echo "ffmpeg paletteuse: ${ffmpeg_s} s   (fastest of $runs)"
awk -v p="$pelorin_s" -v f="$ffmpeg_s" \
    'BEGIN { printf "ratio:            pelorin-convert takes %.2f x the time of ffmpeg (%s)\n", p / f, (p <= f ? "faster or equal" : "slower") }'
echo "stopwatch:        $stopwatch"
