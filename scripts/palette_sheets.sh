#!/usr/bin/env bash
# Remakes the before/after sheets of docs/palette.md: the grey ramp and a photograph of the picture
# set (scripts/picture_set.sh) in each mode, side by side as 512 x 480 display pictures:
#
#   unreduced | today's default: Floyd, the mode's own palette | the best the newer choices give
#
# the newer choices being, by mode:
#   "Graphics 16"  --diffusion exact
#   "Graphics 4"   --diffusion exact --palette best-per-line
#   "Graphics 2"   --diffusion exact --palette best-per-line, and --diffusion exact --distance perceptual --palette best
# A choice the tool does not take (exit status 2 on a command line it does not know) is left off
# its sheet and the figures say so; run the script again on a build that has it.
#
# Writes docs/palette/sheet-SUBJECT-gMODE.png and docs/palette/sheets.md (the sheets with their
# figures: the tool's blurred difference, the mean CIEDE2000 of scripts/picture_figures.py and,
# for the ramp, its solid end bands), and puts the same figures into docs/palette.md between the
# two marker lines there.
#
#   palette_sheets.sh [BUILD]     BUILD defaults to build/; PICTURES=DIR takes a set made before
# Needs ffmpeg (its drawtext for the captions, with DejaVu Sans; without them no captions) and
# Debian's python3-numpy and python3-pil.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
tool="$build/pelorin-convert"
python="${PYTHON:-/usr/bin/python3}"
[[ -x "$tool" ]] || { echo "palette_sheets: no $tool; build first" >&2; exit 2; }
out="$top/docs/palette"
doc="$top/docs/palette.md"
mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-sheets.XXXXXX")
trap 'rm -rf "$work"' EXIT
ff() { ffmpeg -nostdin -hide_banner -v error -y "$@"; }

pictures="${PICTURES:-}"
if [[ -z "$pictures" ]]; then
    pictures="$work/set"
    bash "$top/scripts/picture_set.sh" "$pictures" "$build" >/dev/null
fi
subjects=(ramp photo-coffee)
declare -A titles=([ramp]="grey ramp" [photo-coffee]="coffee (photograph)")

# The panels after the unreduced picture, for each mode: a label and the options.
panels() {
    echo "Floyd|--method floyd"
    case "$1" in
        16) echo "Floyd, exact diffusion|--method floyd --diffusion exact" ;;
        4) echo "Floyd, exact diffusion, best palette per line|--method floyd --diffusion exact --palette best-per-line" ;;
        2) echo "Floyd, exact diffusion, best palette per line|--method floyd --diffusion exact --palette best-per-line"
           echo "Floyd, exact diffusion, perceptual distance, best palette|--method floyd --diffusion exact --distance perceptual --palette best" ;;
    esac
}

font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
captions=0
if [[ -f "$font" ]] && ffmpeg -hide_banner -filters 2>/dev/null | grep ' drawtext ' >/dev/null; then
    captions=1
fi
# panel IN CAPTION OUT: the display picture with a strip under it holding the caption's two lines.
panel() {
    if [[ $captions -eq 1 ]]; then
        printf '%s' "$2" >"$work/caption.txt"
        ff -i "$1" -vf "pad=512:524:0:0:white,drawtext=fontfile=$font:textfile=$work/caption.txt:fontsize=15:fontcolor=black:line_spacing=4:x=6:y=486" "$3"
    else
        ff -i "$1" -vf "pad=512:524:0:0:white" "$3"
    fi
}

ffmpeg -nostdin -v error -y -f lavfi -i "color=c=gray:size=8x8" -frames:v 1 "$work/try.png"
accepts() {
    local status=0
    "$tool" -q "$@" "$work/try.png" "$work/try-out.png" 2>/dev/null || status=$?
    [[ $status -ne 2 ]]
}

sheets="$out/sheets.md"
{
    echo "| subject | mode | conversion | blurred difference | ΔE00 | ramp end bands |"
    echo "|---|---|---|---|---|---|"
} >"$work/figures.md"
: >"$work/images.md"
: >"$work/missing.md"
for s in "${subjects[@]}"; do
    for m in 2 4 16; do
        "$tool" -q --mode "$m" --method none --working "$pictures/$s.png" "$work/none-w.png"
        "$tool" -q --mode "$m" --method none "$pictures/$s.png" "$work/none.png"
        panel "$work/none.png" "unreduced" "$work/p0.png"
        inputs=(-i "$work/p0.png")
        k=1
        while IFS='|' read -r label options; do
            read -ra opts <<<"$options"
            if ! accepts --mode "$m" "${opts[@]}"; then
                echo "- \"Graphics $m\", ${titles[$s]}: this build does not take \`$options\`" >>"$work/missing.md"
                continue
            fi
            blurred=$("$tool" --mode "$m" "${opts[@]}" --working "$pictures/$s.png" "$work/now-w.png" |
                sed -n 's/^faithfulness: \([0-9.]*\).*/\1/p')
            "$tool" -q --mode "$m" "${opts[@]}" "$pictures/$s.png" "$work/now.png"
            read -r _ mine _ de _ left right < <("$python" "$top/scripts/picture_figures.py" "$work/now-w.png" "$work/none-w.png")
            [[ "$mine" == "$blurred" ]] || echo "palette_sheets: the tool says $blurred, the pictures $mine" >&2
            bands="–"
            [[ "$s" == ramp ]] && bands="$left / $right"
            echo "| ${titles[$s]} | \"Graphics $m\" | $label (\`$options\`) | $blurred | $de | $bands |" >>"$work/figures.md"
            panel "$work/now.png" "$label
blurred $blurred, ΔE00 $de" "$work/p$k.png"
            inputs+=(-i "$work/p$k.png")
            k=$((k + 1))
        done < <(panels "$m")
        # The panels side by side, 8 white pixels between them.
        graph=""
        for ((i = 0; i < k - 1; i++)); do graph+="[$i:v]pad=520:524:0:0:white[g$i];"; done
        for ((i = 0; i < k - 1; i++)); do graph+="[g$i]"; done
        graph+="[$((k - 1)):v]hstack=inputs=$k"
        ff "${inputs[@]}" -filter_complex "$graph" "$out/sheet-$s-g$m.png"
        echo "\"Graphics $m\", ${titles[$s]}: ![${titles[$s]}, \"Graphics $m\"](sheet-$s-g$m.png)" >>"$work/images.md"
        echo >>"$work/images.md"
    done
done

{
    echo "<!-- Made by scripts/palette_sheets.sh; run it again rather than editing. -->"
    echo
    cat "$work/images.md"
    cat "$work/figures.md"
    if [[ -s "$work/missing.md" ]]; then
        echo
        echo "Left off:"
        cat "$work/missing.md"
    fi
} >"$sheets"

# docs/palette.md holds the same figures between its two marker lines (its images are the files
# written above, so they need no change).
begin="<!-- sheets: made by scripts/palette_sheets.sh -->"
end="<!-- end of sheets -->"
if grep -qxF "$begin" "$doc" && grep -qxF "$end" "$doc"; then
    awk -v begin="$begin" -v end="$end" -v body="$work/figures.md" -v missing="$work/missing.md" '
        $0 == begin { print; while ((getline line < body) > 0) print line
                      first = 1
                      while ((getline line < missing) > 0) { if (first) { print ""; print "Left off:"; first = 0 } print line }
                      skip = 1; next }
        $0 == end { skip = 0 }
        !skip { print }
    ' "$doc" >"$work/doc.md"
    cat "$work/doc.md" >"$doc"
fi
cat "$sheets"
