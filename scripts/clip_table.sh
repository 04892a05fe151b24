#!/usr/bin/env bash
# Measures .cas clips from the three test clips of scripts/clip_footage.sh: frames kept and
# seconds, and the summary's faithfulness figures, exact and packed, with --tvc-seconds, with
# --denoise and with both. Prints the rows of docs/tvc-export.md's table.
#
#   clip_table.sh FOOTAGE_DIR [CONVERT] [EARLIER_CONVERT]
#
# CONVERT is build/pelorin-convert by default; EARLIER_CONVERT, if given, is a pelorin-convert
# of an earlier version, whose clips ("today") head each row.
set -euo pipefail
footage="${1:?usage: clip_table.sh FOOTAGE_DIR [CONVERT] [EARLIER_CONVERT]}"
convert="${2:-build/pelorin-convert}"
earlier="${3:-}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
common=(--mode 16 --method bayer-4x4 --steady)

# run TOOL ARGS...: one clip; prints "seconds s (faithfulness)", with the exact conversion's
# figure beside the played one when a length was asked for.
run() {
    local tool="$1"
    shift
    local out
    out=$("$tool" "${common[@]}" "$@" "$work/c.cas" 2>&1) || { echo "failed: $out" >&2; return 1; }
    python3 - "$out" <<'PY'
import re, sys
out = sys.argv[1]
kept = re.search(r"clip: (\d+) of \d+ frames kept.*?, ([\d.]+) s at", out)
asked = re.search(r"clip: (\d+) frames, ([\d.]+) s at .*? as asked; faithfulness as it plays ([\d.]+) \(blurred\), the exact conversion ([\d.]+)", out)
faith = re.search(r"faithfulness: ([\d.]+) mean difference", out)
if asked:
    print(f"{asked.group(2)} s ({asked.group(3)}; exact {asked.group(4)})")
elif kept:
    print(f"{kept.group(2)} s ({faith.group(1)})")
else:
    print("?")
PY
}

echo "| clip | today | packed | --tvc-seconds | --denoise | --denoise and --tvc-seconds |"
echo "|---|---|---|---|---|---|"
for row in "still:still.mkv::30" "talking:talking.mkv:--tvc-fps 10:20" "pan:pan.mkv:--tvc-fps 10:20"; do
    IFS=: read -r name file rate seconds <<<"$row"
    # shellcheck disable=SC2206
    extra=($rate)
    cells=()
    if [[ -n "$earlier" ]]; then
        cells+=("$(run "$earlier" "${extra[@]}" "$footage/$file")")
    else
        cells+=("—")
    fi
    cells+=("$(run "$convert" "${extra[@]}" "$footage/$file")")
    cells+=("$(run "$convert" "${extra[@]}" --tvc-seconds "$seconds" "$footage/$file")")
    cells+=("$(run "$convert" "${extra[@]}" --denoise "$footage/$file")")
    cells+=("$(run "$convert" "${extra[@]}" --denoise --tvc-seconds "$seconds" "$footage/$file")")
    echo "| $name | ${cells[0]} | ${cells[1]} | ${cells[2]} | ${cells[3]} | ${cells[4]} |"
done
