#!/usr/bin/env bash
# Writes the bash completion of a Pelorin program from what its own --help says, so the two
# cannot drift apart: the options are the help's option lines, and the words an option takes are
# read from its description by the rules below. A rule that finds nothing fails the build, so a
# reworded help is noticed here rather than in a completion that silently lost its words.
#
#   make_completion.sh PROGRAM OUTPUT
set -euo pipefail
program="$1"
out="$2"
name="$(basename "$program")"
help="$("$program" --help)"

# Every "--option" and "-x" that begins an option line, aliases after a comma included.
options=$(grep -E '^  -' <<<"$help" | sed -E 's/^  //; s/  .*//' | grep -oE '(^|, )-[-a-z0-9]+' |
    sed -E 's/^, //' | sort -u | tr '\n' ' ')
[[ -n "$options" ]] || { echo "make_completion.sh: no options in $name --help" >&2; exit 1; }

# One option's description as one line: its option line and the indented lines under it.
describe() {
    awk -v opt="$1" '
        /^  -/ { inside = ($1 == opt || $1 == opt ","); if (inside) { print; next } }
        inside && /^     / { print; next }
        { inside = 0 }' <<<"$help" | tr -s ' \n' ' ' | sed -E 's/^ +//'
}
need() { # need OPTION WORDS: the rule for OPTION must have found some words
    [[ -n "$2" ]] || { echo "make_completion.sh: found no words for $1 in $name --help" >&2; exit 1; }
}
# The options that take a value: those whose option line names one in capitals or as a list.
valued=$(grep -E '^  --[-a-z0-9]+ ([A-Z]|[0-9]+\|)' <<<"$help" | awk '{print $1}' | tr '\n' ' ')

cases=""
for option in $valued; do
    text=$(describe "$option")
    words=""
    case "$option" in
    --mode)
        # "--mode 2|4|16"
        words=$(sed -E 's/^--mode ([0-9|]+) .*/\1/' <<<"$text" | tr '|' ' ')
        need "$option" "$words"
        ;;
    --method)
        # The methods' captions as the help lists them ("  2  Floyd   also floyd-steinberg"),
        # written with dashes, then the other spellings named after "also"; "none" when the
        # description offers it.
        words=$(awk '/^Methods:/ { on = 1; next }
            on && /^  *[0-9]+  / {
                sub(/^ *[0-9]+  /, ""); n = split($0, part, / +also /)
                gsub(/ /, "-", part[1]); print part[1]
                if (n > 1) { gsub(/, /, "\n", part[2]); print part[2] } }
            on && /^$/ { exit }' <<<"$help" | tr 'A-Z' 'a-z' | tr '\n' ' ')
        need "$option" "$words"
        grep -qE '\bor none\b' <<<"$text" && words+=" none"
        ;;
    --palette)
        # "...; best: chosen ...; best-per-scene: chosen ..."
        words=$(grep -oE '; [a-z][-a-z]*:' <<<"$text" | sed -E 's/^; //; s/:$//' | tr '\n' ' ')
        need "$option" "$words"
        # The colours' names from the table of the sixteen ("   9  blue  #0000ff").
        words+=" $(awk '/^Colours/ { on = 1; next }
            on && /^ +[0-9]+  / { for (i = 1; i <= NF; ++i) if ($i ~ /^[a-z][-a-z]*$/) print $i }
            on && /^$/ { exit }' <<<"$help" | tr '\n' ' ')"
        ;;
    --aspect)
        # "stretch (default) fills it ...; fit keeps ...; fill keeps ..."
        words=$(grep -oE '(: |; )[a-z]+ (\(|keeps|fills)' <<<"$text" | awk '{print $2}' | sort -u |
            tr '\n' ' ')
        need "$option" "$words"
        ;;
    esac
    if [[ -n "$words" ]]; then
        cases+="        $option) COMPREPLY=(\$(compgen -W \"$(xargs <<<"$words")\" -- \"\$cur\")); return ;;"$'\n'
    else
        # A number or a range: nothing to offer.
        cases+="        $option) return ;;"$'\n'
    fi
done

function_name="_$(tr -c 'a-zA-Z0-9\n' '_' <<<"$name")"
cat > "$out.part" <<COMPLETION
# bash completion for $name, made from its --help by make_completion.sh at build time.
$function_name()
{
    local cur=\${COMP_WORDS[COMP_CWORD]} prev=\${COMP_WORDS[COMP_CWORD-1]}
    COMPREPLY=()
    case \$prev in
$cases    esac
    if [[ \$cur == -* ]]; then
        COMPREPLY=(\$(compgen -W "$(xargs <<<"$options")" -- "\$cur"))
        return
    fi
    if declare -F _filedir >/dev/null; then
        _filedir
    else
        COMPREPLY=(\$(compgen -f -- "\$cur"))
    fi
}
complete -F $function_name $name
COMPLETION
mv "$out.part" "$out"
