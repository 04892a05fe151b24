#!/usr/bin/env bash
# Proves that a change left every output byte as it was: builds BASE (a commit, branch or tag) in a
# temporary folder, builds the working tree, and compares what both write for every mode × method
# pair, plain and with --steady:
#   - pelorin-convert's outputs: Matroska, AVI and MP4 (frame checksums, as Matroska files carry
#     a random ID), GIF, the working picture as .vram and PNG, the display picture as PNG, PPM
#     and BMP, --keep-size, --method none, --compare, and the summary's figures (timings left out);
#   - the window's "Save picture…" (display PNG, working PNG, .vram) after stepping a video.
# Inputs: the sample video and clips made here with FFmpeg (a still scene with a camera's noise,
# a slow pan over a natural-looking picture, a picture), so steady dithering meets still, drifting
# and moving content.
#
#   bash scripts/same_bytes.sh BASE                 build BASE and the working tree, compare
#   bash scripts/same_bytes.sh --base-build DIR [--new-build DIR]
#                                                   compare two existing build folders
# Prints one line per difference and ends with "same_bytes: N checks, N differ"; exits 1 when
# anything differs.
# The whole script is read before it runs (the braces), so editing it during a run is safe.
{
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

base_rev="" base_build="" new_build=""
while (($#)); do
    case "$1" in
    --base-build) base_build=$(cd "$2" && pwd); shift 2 ;;
    --new-build) new_build=$(cd "$2" && pwd); shift 2 ;;
    -h | --help) sed -n 2,17p "$0"; exit 0 ;;
    -*) echo "same_bytes: unknown option '$1'" >&2; exit 2 ;;
    *) base_rev=$1; shift ;;
    esac
done
if [[ -z "$base_rev" && -z "$base_build" ]]; then
    echo "same_bytes: name the commit to compare with (BASE) or give --base-build DIR" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-same-bytes.XXXXXX")
trap 'rm -rf "$work"' EXIT

configure_and_build() { # SOURCE BUILD
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
    cmake --build "$2" -j "$(nproc)" --target pelorin-convert window_core sample_video >/dev/null
}

if [[ -z "$base_build" ]]; then
    echo "same_bytes: building $base_rev"
    git -C "$top" worktree add -q --detach "$work/base-src" "$base_rev"
    trap 'git -C "$top" worktree remove --force "$work/base-src" >/dev/null 2>&1; rm -rf "$work"' EXIT
    base_build="$work/base-build"
    configure_and_build "$work/base-src" "$base_build"
fi
if [[ -z "$new_build" ]]; then
    echo "same_bytes: building the working tree"
    bash "$top/scripts/setup.sh"
    new_build="$top/build"
    configure_and_build "$top" "$new_build"
fi

# The base side's inputs and outputs are kept between runs against the same base build (and this
# script), so comparing again after each change costs only the new side.
cache_key=$( (cat "$0"; cat "$base_build/pelorin-convert" "$base_build"/src/window/libwindow_core.a) | sha1sum | cut -c1-16)
cache="/tmp/pelorin-same-bytes-cache/$cache_key"

# --- inputs -----------------------------------------------------------------------------------
in="$work/in"
mkdir -p "$in"
if [[ -f "$cache/complete" ]]; then
    cp -r "$cache/in/." "$in/"
else
cp "$new_build/tom.avi" "$in/tom.avi"
ff() { ffmpeg -nostdin -v error -y "$@"; }
# A fixed scene under a camera's noise with a small moving square: where steady dithering matters.
ff -f lavfi -i "testsrc2=size=320x240:rate=10:duration=4" -f lavfi \
    -i "color=c=black:size=40x40:rate=10:duration=4" \
    -filter_complex "[0:v]trim=end_frame=1,loop=loop=39:size=1:start=0,setpts=N/10/TB[bg];[bg][1:v]overlay=x='20+4*n':y=100,noise=alls=12:allf=t" \
    -c:v ffv1 "$in/still.mkv"
# A slow pan over a natural-looking picture.
ff -f lavfi -i "mandelbrot=size=640x360:rate=10:end_pts=0.1" -frames:v 1 "$in/mandel.png"
ff -loop 1 -i "$in/mandel.png" -vf "crop=480:270:x='t*20':y=40,format=yuv420p" -r 10 -t 3 \
    -c:v ffv1 "$in/pan.mkv"
ff -f lavfi -i "testsrc2=size=300x170:rate=1" -frames:v 1 "$in/picture.png"
fi

# --- the tool ---------------------------------------------------------------------------------
modes=(2 4 16)
methods=(none $(seq 1 16))

# One job per line: NAME|ARGS...|OUTPUT; run in both builds, outputs compared by name.
jobs="$work/jobs"
: >"$jobs"
for m in "${modes[@]}"; do
    for x in "${methods[@]}"; do
        t="g$m-$x"
        for s in plain steady; do
            st=""; [[ $s == steady ]] && st="--steady"
            [[ $x == none && $s == steady ]] && continue
            echo "$t-$s-tom.mkv|--mode $m --method $x $st --frames 0:29 $in/tom.avi" >>"$jobs"
            echo "$t-$s-still.mkv|--mode $m --method $x $st $in/still.mkv" >>"$jobs"
            echo "$t-$s-pan.vram|--mode $m --method $x $st --working $in/pan.mkv" >>"$jobs"
            echo "$t-$s-still.gif|--mode $m --method $x $st --frames 0:11 $in/still.mkv" >>"$jobs"
            echo "$t-$s-tom-w_%02d.png|--mode $m --method $x $st --working --frames 0:20 $in/tom.avi" >>"$jobs"
        done
        echo "$t-tom.avi|--mode $m --method $x --frames 10:19 $in/tom.avi" >>"$jobs"
        echo "$t-tom.mp4|--mode $m --method $x --frames 10:19 $in/tom.avi" >>"$jobs"
        echo "$t-tom.png|--mode $m --method $x --frames 30 $in/tom.avi" >>"$jobs"
        echo "$t-pic.ppm|--mode $m --method $x $in/picture.png" >>"$jobs"
        echo "$t-pic.bmp|--mode $m --method $x --working $in/picture.png" >>"$jobs"
        echo "$t-pic-k.png|--mode $m --method $x --keep-size $in/picture.png" >>"$jobs"
        echo "$t-pan_%03d.png|--mode $m --method $x --frames 5:7 $in/pan.mkv" >>"$jobs"
    done
    echo "g$m-compare.png|--mode $m --compare 12 $in/tom.avi" >>"$jobs"
    echo "g$m-compare-still.png|--mode $m --compare 3 $in/still.mkv" >>"$jobs"
done

run_tool() { # BUILD OUTDIR LINE
    local build=$1 out=$2 line=$3
    local name=${line%%|*} args=${line#*|}
    # Relative output names, so the summary names the same file on both sides.
    cd "$out"
    # shellcheck disable=SC2086
    if ! "$build/pelorin-convert" $args "$name" >"$name.summary" 2>&1; then
        echo "exit status $?" >>"$out/$name.summary"
    fi
    # The stopwatch's readings differ from run to run; every other line of the summary counts.
    grep -v -E '[0-9] ms|ms per frame|conversion time|min.*median' "$name.summary" \
        >"$name.summary.txt" || true
    rm "$name.summary"
}
export -f run_tool

sides=(base new)
if [[ -f "$cache/complete" ]]; then
    cp -r "$cache/base" "$work/base"
    sides=(new)
fi
for side in "${sides[@]}"; do
    build=$base_build; [[ $side == new ]] && build=$new_build
    mkdir -p "$work/$side"
    tr '\n' '\0' <"$jobs" | xargs -0 -P "$(nproc)" -I{} bash -c 'run_tool "$@"' _ "$build" "$work/$side" {}
done

# Video containers differ in metadata; their decoded frames must not.
checksum_videos() {
    local f
    for f in "$1"/*.mkv "$1"/*.avi "$1"/*.mp4; do
        [[ -e "$f" ]] || continue
        ffmpeg -nostdin -v error -i "$f" -map 0:v -f framemd5 - | grep -v '^#' >"$f.framemd5"
        rm "$f"
    done
}

# --- the window's "Save picture…" ---------------------------------------------------------------
# A small driver, compiled against each build's window library, steps a video in the window and
# saves every kind of picture for every mode and method, plain and steady.
driver_src="$work/save_driver.cpp"
cat >"$driver_src" <<'CPP'
#include "window/form1.h"
#include <QApplication>
#include <QRadioButton>
#include <QAction>
#include <QTimer>
#include <cstdio>
using namespace pelorin::window;
int main(int argc, char** argv)
{
    if (argc != 4) return 2;
    const QString video = argv[1], out = argv[2];
    const int last = std::atoi(argv[3]);
    QApplication app(argc, argv);
    ApplyFormStyle();
    SaveChoice next;
    FormEnvironment env;
    env.showMessage = [](MessageKind, const QString& t) { std::fprintf(stderr, "%s\n", qPrintable(t)); };
    env.endProgram = [] { std::exit(3); };
    env.chooseSaveFile = [&](const QString&) { return next; };
    Form1 form(env);
    if (!form.Load()) return 1;
    form.OpenDroppedFile(video);
    form.Timer1()->stop();
    const char* kinds[] = { "display.png", "working.png", "vram" };
    for (int steady = 0; steady < 2; ++steady) {
        form.MenuAction(MenuItem::Steady)->setChecked(steady == 1);
        for (int mode = 0; mode < 3; ++mode) {
            form.Option2(mode)->click();
            for (int method = 1; method <= 16; ++method) {
                form.Option1(method)->click();
                for (int frame = 0; frame <= last; ++frame) form.SetHScroll1Value(frame);
                for (int k = 0; k < 3; ++k) {
                    next.path = QString("%1/window-s%2-m%3-x%4.%5").arg(out).arg(steady).arg(mode).arg(method).arg(kinds[k]);
                    next.kind = SavedPicture(k);
                    form.SavePicture_Click();
                }
            }
        }
    }
    return form.Ended() ? 1 : 0;
}
CPP

build_driver() { # BUILD OUT_EXE
    python3 - "$1" "$2" "$driver_src" <<'PY'
import json, re, shlex, subprocess, sys
build, exe, src = sys.argv[1:4]
# Compile as the window program's own main.cpp is compiled, link as the program is linked.
cmds = json.load(open(f"{build}/compile_commands.json"))
entry = next(c for c in cmds if c["file"].endswith("src/window/main.cpp"))
args = shlex.split(entry["command"])
i = args.index("-o"); args[i + 1] = exe + ".o"
i = args.index("-c"); args[i + 1] = src
args = [a for a in args if not a.startswith("-MF") and a not in ("-MD",)]
subprocess.check_call(args, cwd=entry["directory"])
ninja = open(f"{build}/build.ninja").read()
block = re.search(r"^build pelorin: .*?(?=^build |\Z)", ninja, re.S | re.M).group(0)
var = lambda n: (re.search(rf"^\s+{n} = (.*)$", block, re.M) or [None, ""])[1]
link = [args[0]] + shlex.split(var("FLAGS")) + shlex.split(var("LINK_FLAGS")) + [exe + ".o", "-o", exe] \
    + shlex.split(var("LINK_PATH")) + shlex.split(var("LINK_LIBRARIES"))
subprocess.check_call(link, cwd=build)
PY
}

for side in "${sides[@]}"; do
    build=$base_build; [[ $side == new ]] && build=$new_build
    build_driver "$build" "$work/driver-$side"
    mkdir -p "$work/$side/window"
    (cd "$work" && QT_QPA_PLATFORM=offscreen "$work/driver-$side" "$in/still.mkv" "$work/$side/window" 5 \
        2>"$work/$side/window/messages.txt") || echo "driver exit $?" >>"$work/$side/window/messages.txt"
    checksum_videos "$work/$side"
done

if [[ ! -f "$cache/complete" ]]; then
    rm -rf "$cache" && mkdir -p "$cache"
    cp -r "$in" "$cache/in" && cp -r "$work/base" "$cache/base" && touch "$cache/complete"
fi

# --- compare ----------------------------------------------------------------------------------
checks=0 differ=0
while IFS= read -r rel; do
    checks=$((checks + 1))
    if [[ ! -e "$work/new/$rel" ]]; then
        echo "only in base: $rel"; differ=$((differ + 1))
    elif ! cmp -s "$work/base/$rel" "$work/new/$rel"; then
        echo "differs: $rel"; differ=$((differ + 1))
    fi
done < <(cd "$work/base" && find . -type f | sort)
while IFS= read -r rel; do
    [[ -e "$work/base/$rel" ]] || { echo "only in new: $rel"; differ=$((differ + 1)); checks=$((checks + 1)); }
done < <(cd "$work/new" && find . -type f | sort)

pictures=$(cd "$work/new" && find . -type f ! -name '*.summary.txt' ! -name messages.txt | wc -l)
echo "same_bytes: $pictures outputs and their summaries; $checks checks, $differ differ"
((differ == 0))
exit
}
