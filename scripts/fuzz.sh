#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (coverage + AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each for a bounded time (FUZZ_SECONDS, default 60) from its seeds. A crash leaves its
# input in build-fuzz/crashes/<target>/ and fails the run; keep such inputs in
# fuzz/regressions/<target>/ once fixed, where every ordinary build tests them.
set -euo pipefail
cd "$(dirname "$0")/.."
PELORIN_SETUP_EXTRAS=1 bash scripts/setup.sh
seconds="${FUZZ_SECONDS:-60}"
out=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPELORIN_SANITIZE=fuzzer -DPELORIN_FUZZ=ON -DPELORIN_BUILD_WINDOW=OFF >/dev/null
cmake --build "$out" -j "$(nproc)" --target mci_fuzz video_open_fuzz cli_fuzz tvc_read_fuzz sample_video

# Seeds made here: small AVIs in several codecs of the era, and MCI strings that open the
# sample (the parent handle 256 is the first picture box the target creates).
corpus="$out/corpus"
rm -rf "$corpus" && mkdir -p "$corpus"/{mci_fuzz,video_open_fuzz,cli_fuzz,tvc_read_fuzz}
cp fuzz/seeds/mci_fuzz/* "$corpus/mci_fuzz/"
cp fuzz/seeds/cli_fuzz/* "$corpus/cli_fuzz/"
cp fuzz/regressions/tvc_read_fuzz/* "$corpus/tvc_read_fuzz/"
sample="$PWD/$out/tom.avi"
printf 'open %s type avivideo alias video1 parent 256 style 1073741824\nput video1 window at 0 0 64 32\nset video1 time format frames\nseek video1 to 30 wait\nseek video1 to 31 wait\nstatus video1 position\nplay video1\nstop video1\nclose video1\n' \
    "$sample" > "$corpus/mci_fuzz/open_sample"
for codec in mpeg4 mjpeg rawvideo cinepak msmpeg4v2 ffv1; do
    case $codec in
    rawvideo) format=bgr24 ;;
    mjpeg) format=yuvj420p ;;
    cinepak) format=rgb24 ;;
    *) format=yuv420p ;;
    esac
    ffmpeg -loglevel error -y -f lavfi -i "testsrc2=size=32x24:rate=5:duration=1.2" \
        -c:v "$codec" -pix_fmt "$format" -g 3 "$corpus/video_open_fuzz/$codec.avi"
done
head -c 6000 "$sample" > "$corpus/video_open_fuzz/sample_head.avi"

status=0
for target in mci_fuzz video_open_fuzz cli_fuzz tvc_read_fuzz; do
    mkdir -p "$out/crashes/$target"
    echo "fuzz: $target for ${seconds}s"
    if ! ASAN_OPTIONS=detect_leaks=1 "$out/$target" -max_total_time="$seconds" -timeout=20 \
        -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
        -artifact_prefix="$out/crashes/$target/" "$corpus/$target" "fuzz/seeds/$target" \
        2>"$out/$target.log"; then
        echo "fuzz: $target FAILED; see $out/$target.log and $out/crashes/$target/" >&2
        tail -40 "$out/$target.log" >&2
        status=1
    fi
    grep -E "stat::number_of_executed_units|cov:|ft:" "$out/$target.log" | tail -3
done
exit $status
