#!/usr/bin/env bash
# Makes the sample video tom.avi from FFmpeg's own test sources; no footage from elsewhere.
#
#   make_sample_video.sh OUTPUT.avi        (FFMPEG=/path/to/ffmpeg to choose the binary)
#
# 20 s at 25 frames per second, 512 × 240 (the video host's size, so it is shown unscaled),
# MPEG-4 Part 2 in AVI with a keyframe every second. The picture shows what the conversions
# have to cope with:
#   left  256 × 240  testsrc2: saturated bars, a moving colour ramp, small moving blocks and a
#                    frame counter (fine detail; the counter also tells frames apart by eye)
#   right 256 × 120  mandelbrot zooming into the seahorse valley: dark areas and fine detail
#         256 × 120  gradients: four colours from blue to near-black rotating smoothly
# Every source is deterministic (fixed seed) and the encoder runs single-threaded in bit-exact
# mode, so the same FFmpeg gives the same bytes every time.
set -euo pipefail

out="${1:?usage: make_sample_video.sh OUTPUT.avi}"
ffmpeg="${FFMPEG:-ffmpeg}"
tmp="${out}.part.avi"
trap 'rm -f "$tmp"' EXIT

"$ffmpeg" -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=256x240:rate=25:duration=20" \
    -f lavfi -i "mandelbrot=size=256x120:rate=25:start_scale=2.5:end_scale=0.02:end_pts=500:start_x=-0.743643887037151:start_y=0.131825904205330:maxiter=1500" \
    -f lavfi -i "gradients=size=256x120:rate=25:duration=20:seed=5:n=4:c0=0x0000ff:c1=0xffff00:c2=0xff00ff:c3=0x101010:speed=0.02" \
    -filter_complex "[1:v][2:v]vstack=inputs=2[right];[0:v][right]hstack=inputs=2,trim=duration=20,format=yuv420p[v]" \
    -map "[v]" -c:v mpeg4 -q:v 3 -g 25 -bf 0 -threads 1 \
    -fflags +bitexact -flags:v +bitexact -map_metadata -1 \
    -f avi "$tmp"

size=$(stat -c %s "$tmp")
if [ "$size" -ge $((8 * 1024 * 1024)) ]; then
    echo "make_sample_video.sh: $out would be $size bytes, over the 8 MB limit" >&2
    exit 1
fi
mv "$tmp" "$out"
trap - EXIT
