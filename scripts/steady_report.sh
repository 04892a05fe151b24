#!/usr/bin/env bash
# Steady dithering against plain: flicker (% of pixels changing per frame), faithfulness (mean
# difference from the unreduced picture, both blurred) and the stopwatch's median ms per frame
# (with --steady the tool reads and writes beside the one converter, which shares the processor
# with them, so that column runs high; build/pelorin-bench's BM_VideoFrame times the conversion
# alone),
# on noisy generated clips (made once in $CLIPS, default /tmp/pelorin-steady-clips).
#
#   steady_report.sh [-m "2 4 16"] [-x "1 2 4 11 12 13 14 15 16"] [-n FRAMES] [CLIP...]
#
# CLIP is one of: gradients testsrc2 mandelbrot life still pan drift (default: all). TOOL=path/to/pelorin-convert.
set -euo pipefail

modes="2 4 16" methods="1 2 11 12 13 14 15 16 4" frames=300
while getopts "m:x:n:" o; do
    case $o in
    m) modes=$OPTARG ;;
    x) methods=$OPTARG ;;
    n) frames=$OPTARG ;;
    *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
clips=${*:-gradients testsrc2 mandelbrot life still pan drift}
tool=${TOOL:-$(dirname "$0")/../build/pelorin-convert}
dir=${CLIPS:-/tmp/pelorin-steady-clips}
mkdir -p "$dir"
noise="format=yuv420p,noise=alls=12:allf=t,format=bgr0"

declare -A source=(
    [gradients]="gradients=s=512x240:r=25:seed=3:speed=0.01"
    [testsrc2]="testsrc2=s=512x240:r=25"
    [mandelbrot]="mandelbrot=s=512x240:r=25:start_scale=1.5:end_scale=0.3:end_pts=60"
    [life]="life=s=512x240:r=25:mold=10:ratio=0.3:seed=7:life_color=#ffd040:death_color=#402080"
    [still]="mandelbrot=s=512x240:r=25:start_scale=0.6:end_scale=0.6"
    [pan]="testsrc2=s=640x480:r=25,scroll=h=0.0015:v=0.001,crop=512:240"
    [drift]="mandelbrot=s=640x480:r=25:start_scale=0.6:end_scale=0.6,scroll=h=0.0015:v=0.001,crop=512:240"
)

printf "%-10s %-4s %-6s | %6s %7s %7s %5s | %7s %7s %6s | %6s %6s %6s\n" clip mode method \
    floor flicker steady ratio faithf steady growth ms steady cost
for clip in $clips; do
    file="$dir/$clip-$frames.mkv"
    [ -s "$file" ] || ffmpeg -nostdin -loglevel error -y -f lavfi \
        -i "${source[$clip]},$noise,trim=end_frame=$frames" -c:v ffv1 "$file"
    for mode in $modes; do
        # What the picture's own motion makes change: plain "Treshold", whose pixels each
        # depend on that pixel alone.
        floor=$("$tool" -q --threads 1 --mode "$mode" --method 3 --working "$file" "$dir/out-$$.mkv" 2>&1 |
            sed -n 's/^flicker: \([0-9.]*\) %.*/\1/p')
        for method in $methods; do
            declare -a f=() d=() t=()
            for steady in "" --steady; do
                out=$("$tool" -q --threads 1 --mode "$mode" --method "$method" --working $steady \
                    "$file" "$dir/out-$$.mkv" 2>&1)
                f+=("$(sed -n 's/^flicker: \([0-9.]*\) %.*/\1/p' <<<"$out")")
                d+=("$(sed -n 's/^faithfulness: \([0-9.]*\) .*/\1/p' <<<"$out")")
                t+=("$(sed -n 's/.*median \([0-9.]*\) ms.*/\1/p' <<<"$out")")
            done
            awk -v c="$clip" -v m="$mode" -v x="$method" -v fl="$floor" -v f0="${f[0]}" -v f1="${f[1]}" \
                -v d0="${d[0]}" -v d1="${d[1]}" -v t0="${t[0]}" -v t1="${t[1]}" 'BEGIN {
                printf "%-10s %-4s %-6s | %6.2f %7.2f %7.2f %5.2f | %7.3f %7.3f %+5.1f%% | %6.3f %6.3f %+5.0f%%\n",
                    c, m, x, fl, f0, f1, (f0 > 0 ? f1 / f0 : 0), d0, d1, (d0 > 0 ? 100 * (d1 / d0 - 1) : 0),
                    t0, t1, (t0 > 0 ? 100 * (t1 / t0 - 1) : 0) }'
        done
    done
done
rm -f "$dir/out-$$.mkv"
