#!/usr/bin/env bash
# Runs Pelorin's TVC programs in MAME's tvc64 driver, an emulator none of us wrote, under our
# own stand-in system ROM, and checks what it shows against what pelorin-convert writes for the
# same conversion: pictures in the three modes (video RAM and MAME's snapshot), a clip (its
# frames in order) and each program's return to the machine as BASIC had it.
#
#   mame_check.sh CONVERT SAMPLE_VIDEO STANDIN_ROM WATCH_LUA COMPARE WORK
#
# Without MAME the check is skipped (exit 77), unless PELORIN_REQUIRE_MAME is set: the test
# command sets it, so there a missing MAME fails rather than passes unseen.
set -euo pipefail

if (($# != 6)); then
    echo "usage: $0 CONVERT SAMPLE_VIDEO STANDIN_ROM WATCH_LUA COMPARE WORK" >&2
    exit 2
fi
convert=$1 sample=$2 rom=$3 watch=$4 compare=$5 work=$6

# Debian puts the emulator in /usr/games, which a test's PATH may lack.
mame=$(PATH="$PATH:/usr/games" command -v mame || true)
if [[ -z "$mame" ]]; then
    if [[ -n "${PELORIN_REQUIRE_MAME:-}" ]]; then
        echo "mame_check: MAME is not installed, and PELORIN_REQUIRE_MAME asks for it" >&2
        exit 1
    fi
    echo "mame_check: SKIPPED: MAME is not installed (scripts/test.sh installs it)"
    exit 77
fi

rm -rf "$work"
mkdir -p "$work/roms/tvc64"
# The driver's file names: the system ROM's two 8 KB halves, and the extension ROM, which the
# programs never reach, as an empty EPROM.
head -c 8192 "$rom" >"$work/roms/tvc64/tvc12_d4.64k"
tail -c +8193 "$rom" >"$work/roms/tvc64/tvc12_d3.64k"
head -c 8192 /dev/zero | tr '\000' '\377' >"$work/roms/tvc64/tvc12_d7.64k"

failed=0

# run_mame NAME CAS FIELDS EVERY: the program in MAME, watched by the Lua script, into
# $work/NAME. MAME may crash on its way out after the script's last write: its exit status is
# not looked at, the files are.
run_mame() {
    local out="$work/$1"
    mkdir -p "$out"
    (cd "$out" && PELORIN_MAME_OUT="$out" PELORIN_MAME_FIELDS="$3" PELORIN_MAME_EVERY="$4" \
        timeout 300 "$mame" tvc64 -rompath "$work/roms" -video none -sound none -nothrottle \
        -skip_gameinfo -seconds_to_run 60 -cfg_directory "$out/cfg" \
        -nvram_directory "$out/nvram" -autoboot_delay 0 -autoboot_script "$watch" \
        -quik "$2" >"$out/mame.log" 2>&1) || true
    if [[ ! -s "$out/record.txt" ]]; then
        echo "mame_check: $1: the Lua script wrote no record; MAME said:" >&2
        tail -20 "$out/mame.log" >&2
        failed=1
        return 1
    fi
}

to_ppm() { ffmpeg -v error -y -i "$1" -f image2 -c:v ppm "$2"; }

for mode in 2 4 16; do
    name="picture$mode"
    options=(--mode "$mode" --method floyd --frames 40)
    for extension in cas vram png; do
        "$convert" "${options[@]}" "$sample" "$work/$name.$extension" >/dev/null
    done
    echo "== \"Graphics $mode\" picture"
    # MAME draws a whole field with the registers the field ends with, where the machine
    # rewrites them line by line: a picture whose registers change from line to line cannot be
    # judged here. Our model checks those as the beam draws them (tvc-picture-check).
    per_line=0
    "$compare" per-line "$work/$name.cas" || per_line=$?
    if ((per_line == 0)); then
        echo "skipped: its registers change from line to line, which MAME does not draw"
        continue
    elif ((per_line != 1)); then
        failed=1
        continue
    fi
    run_mame "$name" "$work/$name.cas" 25 0 || continue
    to_ppm "$work/$name/screen.png" "$work/$name/screen.ppm"
    to_ppm "$work/$name.png" "$work/$name.ppm"
    "$compare" picture "$work/$name" "$work/$name.vram" "$work/$name.ppm" || failed=1
done

# Every second frame of the 25 frames a second sample, 12.5 a second: each frame then stays
# whole on screen for more than a field, so a look at every field end sees each one.
echo "== clip"
options=(--method bayer-4x4 --steady --frames 0:39)
summary=$("$convert" "${options[@]}" --tvc-fps 12.5 "$sample" "$work/clip.cas")
"$convert" "${options[@]}" "$sample" "$work/clip.vram" >/dev/null
kept=$(sed -n 's/.*clip: \([0-9]*\) of [0-9]* frames kept.*/\1/p' <<<"$summary")
if [[ -z "$kept" ]]; then
    echo "mame_check: no \"frames kept\" in the tool's summary: $summary" >&2
    exit 1
fi
# Two passes of about four fields a frame, and some to spare.
if run_mame clip "$work/clip.cas" $((kept * 8 + 25)) 1; then
    "$compare" clip "$work/clip" "$work/clip.vram" "$kept" 2 || failed=1
fi

exit "$failed"
