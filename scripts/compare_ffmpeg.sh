#!/usr/bin/env bash
# Times pelorin-convert against FFmpeg's own scale + palette filters doing the same job, side by
# side in one run: each video reduced to the 16 TVC colours with Floyd–Steinberg dithering and
# written as FFV1 in Matroska, in two shapes —
#   working: scaled to 128 × 240 (pelorin-convert --working),
#   display: scaled to 128 × 240, reduced, then enlarged to 512 × 480 without smoothing (the
#            tool's default output);
# pelorin-convert once with --threads 1 and once on every core.
#
#   compare_ffmpeg.sh [BUILD_DIR] [VIDEO...]   (defaults: build, BUILD_DIR/tom.avi and a
#                                               camera-like clip made here; RUNS=3)
#
# The camera-like clip: 400 frames of 1280 × 720 H.264 at 30 frames a second, a slow zoom with
# sensor-like noise. Each command runs RUNS times; the fastest wall-clock time of each is
# compared. FFmpeg gets the fixed palette as a 16 × 16 picture (paletteuse wants 256 entries;
# each row holds the 16 colours), so neither side spends time choosing colours.
set -euo pipefail

build="${1:-build}"
shift || true
runs="${RUNS:-3}"
ffmpeg="${FFMPEG:-ffmpeg}"
tool="$build/pelorin-convert"
[[ -x "$tool" ]] || { echo "compare_ffmpeg.sh: no $tool; build first" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

videos=("$@")
if ((${#videos[@]} == 0)); then
    camera="$work/camera.mp4"
    "$ffmpeg" -nostdin -hide_banner -loglevel error -f lavfi \
        -i "mandelbrot=size=1280x720:rate=30,noise=alls=10:allf=t" -frames:v 400 \
        -c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p "$camera"
    videos=("$build/tom.avi" "$camera")
fi
for video in "${videos[@]}"; do
    [[ -f "$video" ]] || { echo "compare_ffmpeg.sh: no video '$video'" >&2; exit 1; }
done

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

cores=$(nproc)
printf '%-14s %-8s %12s %12s %12s %9s %9s %9s\n' video shape "ffmpeg s" "1 thread s" \
    "$cores threads s" "ratio 1" "ratio all" "ceiling"
for video in "${videos[@]}"; do
    # Both sides must decode every picture; FFmpeg's time over decoding alone is the highest ratio
    # any converter could reach on this video.
    decode_s=$(best_of decode "$ffmpeg" -nostdin -hide_banner -loglevel error -i "$video" -an \
        -f null -)
    for shape in working display; do
        if [[ $shape == working ]]; then
            size=(--working)
            graph="[0:v]scale=128:240:flags=area[s];[s][1:v]paletteuse=dither=floyd_steinberg:diff_mode=none"
        else
            size=()
            graph="[0:v]scale=128:240:flags=area[s];[s][1:v]paletteuse=dither=floyd_steinberg:diff_mode=none[p];[p]scale=512:480:flags=neighbor"
        fi
        ffmpeg_s=$(best_of ffmpeg "$ffmpeg" -nostdin -hide_banner -loglevel error -y -i "$video" \
            -i "$palette" -lavfi "$graph" -an -c:v ffv1 -pix_fmt bgr0 "$work/ffmpeg.mkv")
        one_s=$(best_of pelorin1 "$tool" --quiet --threads 1 --mode 16 --method floyd \
            ${size[@]+"${size[@]}"} "$video" "$work/pelorin.mkv")
        all_s=$(best_of pelorin "$tool" --quiet --mode 16 --method floyd \
            ${size[@]+"${size[@]}"} "$video" "$work/pelorin.mkv")
        awk -v v="$(basename "$video")" -v s="$shape" -v f="$ffmpeg_s" -v o="$one_s" -v a="$all_s" \
            -v d="$decode_s" 'BEGIN { printf "%-14s %-8s %12.3f %12.3f %12.3f %8.2fx %8.2fx %8.2fx\n",
                v, s, f, o, a, f / o, f / a, f / d }'
    done
    frames=$(grep -o 'frames written: [0-9]*' "$work/pelorin.log" | grep -o '[0-9]*$')
    stopwatch=$(grep 'conversion per frame' "$work/pelorin.log" | sed 's/.*: //')
    echo "  $(basename "$video"): $frames frames; stopwatch per frame $stopwatch"
done
echo "ratio: FFmpeg's time over pelorin-convert's (above 1: pelorin-convert is faster);"
echo "ceiling: FFmpeg's time over decoding the video alone, the most any converter could reach"
