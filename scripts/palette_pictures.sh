#!/usr/bin/env bash
# Remakes the before/after pictures of docs/palette.md: three subjects, each in "Graphics 2" and
# "Graphics 4" by Floyd, with the mode's own palette and with `--palette best`, side by side with
# the unreduced picture; and the table of faithfulness figures (docs/palette/figures.md).
# The subjects are made here: two with FFmpeg's generated sources (a landscape drawn by formula,
# a Mandelbrot set) and frame 200 of the sample video build/tom.avi, a test card.
#
#   bash scripts/palette_pictures.sh [BUILD]      BUILD defaults to build/
{
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
tool="$build/pelorin-convert"
[[ -x "$tool" ]] || { echo "palette_pictures: no $tool; build first" >&2; exit 2; }
[[ -f "$build/tom.avi" ]] || { echo "palette_pictures: no $build/tom.avi; build first" >&2; exit 2; }
out="$top/docs/palette"
mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-palette.XXXXXX")
trap 'rm -rf "$work"' EXIT
ff() { ffmpeg -nostdin -v error -y "$@"; }

# --- subjects ---------------------------------------------------------------------------------
# A landscape: a sky fading to haze over a green-brown field with some texture.
ff -f lavfi -i "nullsrc=size=640x360" -vf "geq=r='if(lt(Y,150),90+Y*0.6,70+40*sin(X/23)*sin(Y/7)+30*random(1))':g='if(lt(Y,150),140+Y*0.5,110+50*sin(X/31+Y/17)+30*random(1))':b='if(lt(Y,150),230-Y*0.2,40+20*random(1))'" \
    -frames:v 1 "$work/landscape.png"
ff -f lavfi -i "mandelbrot=size=640x360:rate=10:end_pts=0.1" -frames:v 1 "$work/mandelbrot.png"
ff -i "$build/tom.avi" -vf "select=eq(n\,200)" -frames:v 1 "$work/sample.png"
subjects=(landscape mandelbrot sample)

faith() { sed -n 's/^faithfulness: \([0-9.]*\).*/\1/p'; }
registers() { sed -n 's/^palette: registers \(.*\) (colours.*/\1/p'; }

table="$out/figures.md"
{
    echo "| subject | mode | own palette | chosen registers | chosen palette | lower by |"
    echo "|---|---|---|---|---|---|"
} >"$table"
for s in "${subjects[@]}"; do
    for m in 2 4; do
        "$tool" -q --mode "$m" --method none "$work/$s.png" "$work/$s-g$m-source.png"
        own=$("$tool" --mode "$m" --method floyd "$work/$s.png" "$work/$s-g$m-own.png" | faith)
        summary=$("$tool" --mode "$m" --method floyd --palette best "$work/$s.png" "$work/$s-g$m-best.png")
        best=$(faith <<<"$summary")
        regs=$(registers <<<"$summary")
        # Unreduced | own palette | chosen palette, each 512 x 480, with a gap between.
        ff -i "$work/$s-g$m-source.png" -i "$work/$s-g$m-own.png" -i "$work/$s-g$m-best.png" \
            -filter_complex "[0:v]pad=520:480[a];[1:v]pad=520:480[b];[a][b][2:v]hstack=inputs=3" \
            "$out/$s-g$m.png"
        lower=$(awk -v a="$own" -v b="$best" 'BEGIN { printf "%.0f %%", (1 - b / a) * 100 }')
        echo "| $s | \"Graphics $m\" | $own | $regs | $best | $lower |" >>"$table"
    done
done
cat "$table"
echo "palette_pictures: wrote ${#subjects[@]} subjects x 2 modes to $out"
exit 0
}
