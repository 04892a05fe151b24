#!/usr/bin/env bash
# How long pelorin-convert takes to give way to a stop signal in the middle of one huge picture:
# a 16384 x 16128 picture (the largest FFmpeg decodes at 16384 wide), --keep-size --method
# floyd to PNG, SIGTERM (or the signal given) sent after each delay. Prints, per delay, the
# seconds from the signal to the tool's message and to its exit, its exit status and whether
# a temporary file was left.
#
#   bash scripts/stop_latency.sh [EXE [SIGNAL [DELAY ...]]]
#       EXE defaults to build/pelorin-convert, SIGNAL to TERM, delays to 5 12 20 26 seconds.
set -euo pipefail
set -m # the tool runs as a job of its own, so SIGINT is not ignored in it
exe=${1:-build/pelorin-convert}
signal=${2:-TERM}
shift $(($# > 2 ? 2 : $#))
delays=("$@")
((${#delays[@]})) || delays=(5 12 20 26)
work=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-stop.XXXXXX")
trap 'rm -rf "$work"' EXIT
ffmpeg -v error -f lavfi -i testsrc2=size=512x504:rate=1:duration=1 \
    -vf scale=16384:16128:flags=bicubic -frames:v 1 "$work/big.png"
mkdir "$work/out"
for delay in "${delays[@]}"; do
    rm -f "$work/err"
    "$exe" --keep-size --method floyd "$work/big.png" "$work/out/big.png" >/dev/null \
        2>"$work/err" &
    pid=$!
    sleep "$delay"
    start=$(date +%s.%N)
    kill "-$signal" "$pid"
    while [[ ! -s "$work/err" ]] && kill -0 "$pid" 2>/dev/null; do sleep 0.01; done
    said=$(date +%s.%N)
    status=0
    wait "$pid" || status=$?
    ended=$(date +%s.%N)
    left=$(find "$work/out" -name '.*' | wc -l)
    printf 'signal after %s s: message after %.2f s, exit after %.2f s (status %d), %d left\n' \
        "$delay" "$(echo "$said - $start" | bc)" "$(echo "$ended - $start" | bc)" "$status" "$left"
    rm -f "$work/out/big.png"
done
