#!/usr/bin/env bash
# Makes the picture set the conversions are measured on: seven PNG pictures.
#
#   photo-astronaut.png  Eileen Collins, NASA, public domain           } scikit-image's sample data,
#   photo-coffee.png     a cup of coffee, Rachel Michetti, CC0         } as Debian's python3-skimage
#   photo-chelsea.png    Chelsea the cat, Stefan van der Walt, CC0     } 0.19.3-8 ships it
#   ramp.png             512 x 240 grey, 0 at the left to 255 at the right, the same down each column
#   film-talking.png     frame 250 (10 s) of talking.mkv  } the clips scripts/clip_footage.sh makes
#   film-pan.png         frame 375 (15 s) of pan.mkv      } from FFmpeg's generated sources
#   film-sample.png      frame 200 of the sample video tom.avi (scripts/make_sample_video.sh)
#
# The photographs come from the Debian package itself (apt-get download, unpacked into a
# temporary folder; nothing is installed) and are checked against the digests below, so the set is
# the same wherever it is made. The film frames are as deterministic as the FFmpeg that makes the
# clips.
#
#   picture_set.sh OUTDIR [BUILD]     BUILD (default build/) may hold tom.avi already;
#                                     FOOTAGE=DIR reuses clips clip_footage.sh made there
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out="${1:?usage: picture_set.sh OUTDIR [BUILD]}"
build="${2:-$top/build}"
mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-set.XXXXXX")
trap 'rm -rf "$work"' EXIT
ff() { ffmpeg -nostdin -hide_banner -v error -y "$@"; }

# --- photographs ------------------------------------------------------------------------------
(cd "$work" && apt-get download python3-skimage=0.19.3-8 >/dev/null 2>&1) || {
    echo "picture_set: apt-get download python3-skimage=0.19.3-8 failed (run apt-get update?)" >&2
    exit 2
}
dpkg -x "$work"/python3-skimage_*.deb "$work/deb"
data="$work/deb/usr/lib/python3/dist-packages/skimage/data"
while read -r digest name; do
    echo "$digest  $data/$name.png" | sha256sum --check --quiet - || {
        echo "picture_set: $name.png in python3-skimage is not the picture expected" >&2
        exit 2
    }
    cp "$data/$name.png" "$out/photo-$name.png"
done <<'EOF'
88431cd9653ccd539741b555fb0a46b61558b301d4110412b5bc28b5e3ea6cb5 astronaut
cc02f8ca188b167c775a7101b5d767d1e71792cf762c33d6fa15a4599b5a8de7 coffee
596aa1e7cb875eb79f437e310381d26b338a81c2da23439704a73c4651e8c4bb chelsea
EOF

# --- the grey ramp ----------------------------------------------------------------------------
# 512 x 240 is the host picture's size, so the ramp reaches the conversion unstretched; column x
# holds round(255 x / 511).
ff -f lavfi -i "color=c=black:size=512x240,format=gray" \
    -vf "geq=lum='floor(X*255/511+0.5)',format=rgb24" -frames:v 1 "$out/ramp.png"

# --- film frames ------------------------------------------------------------------------------
footage="${FOOTAGE:-}"
if [[ -z "$footage" || ! -f "$footage/talking.mkv" || ! -f "$footage/pan.mkv" ]]; then
    footage="$work/footage"
    bash "$top/scripts/clip_footage.sh" "$footage" >/dev/null
fi
sample="$build/tom.avi"
if [[ ! -f "$sample" ]]; then
    sample="$work/tom.avi"
    bash "$top/scripts/make_sample_video.sh" "$sample"
fi
frame() { ff -i "$1" -vf "select=eq(n\,$2)" -frames:v 1 -pix_fmt rgb24 "$3"; }
frame "$footage/talking.mkv" 250 "$out/film-talking.png"
frame "$footage/pan.mkv" 375 "$out/film-pan.png"
frame "$sample" 200 "$out/film-sample.png"

ls "$out"/photo-{astronaut,coffee,chelsea}.png "$out"/ramp.png \
    "$out"/film-{talking,pan,sample}.png
