#!/usr/bin/env bash
# Measures conversions over the picture set (scripts/picture_set.sh) and prints a Markdown table:
# for each mode and configuration, the mean of the tool's faithfulness figure (the blurred
# difference, of 255), the mean CIEDE2000 of the display pictures blurred in linear light
# (scripts/picture_figures.py says how), and the solid end bands of the grey ramp (columns of one
# colour at the left / right end of the working picture). Lower is better in every column.
#
#   picture_table.sh [BUILD]      BUILD defaults to build/; PICTURES=DIR takes a set made before
#                                 (default: made afresh in a temporary folder)
#
# "Graphics 2" and "Graphics 4": Floyd plain, with --palette best, and with each newer choice the
# tool takes. "Graphics 16" (no palette to choose): every diffusion method, integer and exact.
# A configuration the tool refuses (exit status 2 on a command line it does not know) is left out
# of the table, and a line under it says so. Every figure of the tool's summary is worked out
# again from the pictures; a line under the table says whether all agreed.
# Needs ffmpeg and Debian's python3-numpy and python3-pil.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
tool="$build/pelorin-convert"
python="${PYTHON:-/usr/bin/python3}"
figures="$top/scripts/picture_figures.py"
[[ -x "$tool" ]] || { echo "picture_table: no $tool; build first" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-table.XXXXXX")
trap 'rm -rf "$work"' EXIT

pictures="${PICTURES:-}"
if [[ -z "$pictures" ]]; then
    pictures="$work/set"
    bash "$top/scripts/picture_set.sh" "$pictures" "$build" >/dev/null
fi
names=()
for f in "$pictures"/*.png; do names+=("$(basename "$f" .png)"); done
[[ " ${names[*]} " == *" ramp "* ]] || { echo "picture_table: no ramp.png in $pictures" >&2; exit 2; }

# accepts OPTIONS...: whether the tool takes these options (a one-pixel try; exit status 2 is
# its answer to a command line it does not know).
ffmpeg -nostdin -v error -y -f lavfi -i "color=c=gray:size=8x8" -frames:v 1 "$work/try.png"
accepts() {
    local status=0
    "$tool" -q "$@" "$work/try.png" "$work/try-out.png" 2>/dev/null || status=$?
    [[ $status -ne 2 ]]
}

# The unreduced working pictures, one per picture and mode: what every configuration is measured
# against.
for m in 2 4 16; do
    for n in "${names[@]}"; do
        "$tool" -q --mode "$m" --method none --working "$pictures/$n.png" "$work/$n-g$m-none.png"
    done
done

skipped=()
disagreed=0
# row MODE LABEL OPTIONS...: one line of the table, the options after --mode.
row() {
    local m="$1" label="$2"
    shift 2
    if ! accepts --mode "$m" "$@"; then
        skipped+=("\"Graphics $m\" $label: the tool refuses \`$*\`")
        return
    fi
    local pairs=() faith=()
    for n in "${names[@]}"; do
        local out="$work/$n-converted.png"
        faith+=("$("$tool" --mode "$m" "$@" --working "$pictures/$n.png" "$out" |
            sed -n 's/^faithfulness: \([0-9.]*\).*/\1/p')")
        pairs+=("$out" "$work/$n-g$m-none.png")
    done
    local measured
    measured=$("$python" "$figures" "${pairs[@]}")
    # Columns: the tool's figures, then ours (blurred, de2000, left band, right band).
    paste -d' ' <(printf '%s\n' "${names[@]}") <(printf '%s\n' "${faith[@]}") \
        <(awk '{ print $2, $4, $6, $7 }' <<<"$measured") >"$work/rows"
    disagreed=$((disagreed + $(awk '$2 != $3' "$work/rows" | wc -l)))
    awk -v mode="$m" -v label="$label" '
        { tool += $2; de += $4; n++ }
        $1 == "ramp" { bands = $5 " / " $6 }
        END { printf "| \"Graphics %s\" | %s | %.3f | %.3f | %s |\n", mode, label, tool / n, de / n, bands }
    ' "$work/rows"
}

echo "| mode | configuration | blurred difference | ΔE00 | ramp end bands |"
echo "|---|---|---|---|---|"
for m in 2 4; do
    row "$m" "Floyd" --method floyd
    row "$m" "Floyd, \`--palette best\`" --method floyd --palette best
    row "$m" "Floyd, \`--diffusion exact\`" --method floyd --diffusion exact
    row "$m" "Floyd, \`--diffusion exact --palette best\`" --method floyd --diffusion exact --palette best
    row "$m" "Floyd, \`--diffusion exact --linear-light\`" --method floyd --diffusion exact --linear-light
    row "$m" "Floyd, \`--diffusion exact --distance perceptual\`" --method floyd --diffusion exact --distance perceptual
    row "$m" "Floyd, \`--diffusion exact --distance perceptual --palette best\`" --method floyd --diffusion exact --distance perceptual --palette best
    row "$m" "Floyd, \`--palette best-per-line\`" --method floyd --palette best-per-line
    row "$m" "Floyd, \`--palette best-per-line --distance perceptual\`" --method floyd --palette best-per-line --distance perceptual
done
for method in atkinson floyd sierra burkes stucki jarvis sierra-lite two-row-sierra; do
    row 16 "$method" --method "$method"
    row 16 "$method, \`--diffusion exact\`" --method "$method" --diffusion exact
done
echo
echo "Means over the ${#names[@]} pictures (${names[*]}); lower is better."
for s in "${skipped[@]}"; do echo "- left out: $s"; done
if [[ $disagreed -eq 0 ]]; then
    echo "The blurred difference worked out from the working pictures matched the tool's summary every time."
else
    echo "WARNING: $disagreed blurred differences worked out from the pictures differ from the tool's summary."
fi
