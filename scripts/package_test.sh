#!/usr/bin/env bash
# The Debian package, installed and used as a user would: makes build/package/pelorin_*.deb,
# checks it with lintian, installs it, converts a frame of the installed sample with the installed
# tool, starts the installed window (offscreen) without a file so "Play AVI" has to find the
# installed sample, checks the desktop entry, the metainfo, the file types, and that every option
# of --help is in the manual page and the completion; then removes the package again.
#
#   bash scripts/package_test.sh [BUILD_DIR]     (after a full build: scripts/test.sh runs it)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
SUDO=""
[[ $(id -u) != 0 ]] && SUDO="sudo"

fail() {
    echo "package test: $*" >&2
    exit 1
}

# A pelorin the machine already has is the user's: it is left alone, and this test with it.
if dpkg-query -W -f='${Status}' pelorin 2>/dev/null | grep -q "install ok installed"; then
    echo "package test: SKIPPED, a pelorin package is installed on this machine already" \
        "($(dpkg-query -W -f='${Version}' pelorin)); dpkg -r pelorin to let the test run" >&2
    exit 0
fi

work=$(mktemp -d)
installed=0
cleanup() {
    if ((installed)); then
        $SUDO dpkg -r pelorin >/dev/null || echo "package test: dpkg -r pelorin failed" >&2
    fi
    rm -rf "$work"
}
trap cleanup EXIT

rm -rf "$build/package"
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=("$build"/package/pelorin_*.deb)
((${#debs[@]} == 1)) && [[ -f ${debs[0]} ]] || fail "cpack made no single package: ${debs[*]}"
deb="${debs[0]}"
version=$(dpkg-deb -f "$deb" Version)
[[ $(basename "$deb") == "pelorin_${version}_$(dpkg --print-architecture).deb" ]] ||
    fail "unexpected package name $(basename "$deb")"
dpkg-deb -f "$deb" Depends | grep -q "libavcodec" || fail "no computed dependencies in $deb"
# Errors fail; the warnings and notes it prints are listed in the README's install section.
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log" >&2; fail "lintian reports errors"; }
grep -v "running with root privileges" "$work/lintian.log" || true

$SUDO dpkg -i "$deb" >/dev/null
installed=1

# The installed programs are the built ones, stripped.
[[ $(/usr/bin/pelorin-convert --version) == $("$build/pelorin-convert" --version) ]] ||
    fail "/usr/bin/pelorin-convert --version says '$(/usr/bin/pelorin-convert --version)'"
[[ $(/usr/bin/pelorin --version) == "pelorin $version"* ]] ||
    fail "/usr/bin/pelorin --version says '$(/usr/bin/pelorin --version)'"
sample=/usr/share/pelorin/tom.avi
[[ -f $sample ]] || fail "no $sample"
args=(-q --mode 4 --method bayer-4x4 --frames 100)
/usr/bin/pelorin-convert "${args[@]}" "$sample" "$work/installed.png"
"$build/pelorin-convert" "${args[@]}" "$build/tom.avi" "$work/built.png"
cmp -s "$work/installed.png" "$work/built.png" ||
    fail "the installed tool's frame 100 differs from the built tool's"

# From a folder with no sample in it: "Play AVI" finds /usr/share/pelorin/tom.avi and steps.
stepped=$(cd "$work" && QT_QPA_PLATFORM=offscreen timeout 120 /usr/bin/pelorin --exit-after 25 \
    2>"$work/window.err") || fail "the installed window did not step: $(cat "$work/window.err")"
[[ $stepped == "pelorin: stepped 25 frames, at frame 25" ]] || fail "the window said '$stepped'"

desktop-file-validate /usr/share/applications/pelorin.desktop
appstreamcli validate --no-net /usr/share/metainfo/*.metainfo.xml >/dev/null ||
    appstreamcli validate --no-net /usr/share/metainfo/*.metainfo.xml
# dpkg's triggers have taught the machine the TVC's file types and who opens them.
grep -q ':image/x-tvc-kep:\*\.kep$' /usr/share/mime/globs2 || fail ".kep is not a known file type"
grep -q '^image/x-tvc-kep=.*pelorin.desktop' /usr/share/applications/mimeinfo.cache ||
    fail "pelorin.desktop is not offered for .kep files"

# Every option --help names is in the manual page and completes.
for program in pelorin-convert pelorin; do
    options=$(/usr/bin/$program --help | grep -E '^  -' | sed -E 's/^  //; s/  .*//' |
        grep -oE '(^|, )-[-a-z0-9]+' | sed -E 's/^, //' | sort -u)
    (($(wc -l <<<"$options") >= 5)) || fail "$program --help lists too few options: $options"
    page=$(zcat "/usr/share/man/man1/$program.1.gz" | sed -E 's/\\f[BIRP]//g; s/\\f\[[A-Z]*\]//g; s/\\-/-/g')
    completed=$(bash -c 'source "$1"; COMP_WORDS=("$2" -); COMP_CWORD=1; "_${2//-/_}"
        printf "%s\n" "${COMPREPLY[@]}"' _ "/usr/share/bash-completion/completions/$program" "$program")
    for option in $options; do
        grep -qE -- "(^|[^-a-z])$option([^-a-z]|$)" <<<"$page" || fail "$program(1) lacks $option"
        grep -qx -- "$option" <<<"$completed" || fail "$program's completion lacks $option"
    done
done
words() { # words PREVIOUS CURRENT: what the completion offers after PREVIOUS
    bash -c 'source /usr/share/bash-completion/completions/pelorin-convert
        COMP_WORDS=(pelorin-convert "$1" "$2"); COMP_CWORD=2; _pelorin_convert
        echo "${COMPREPLY[*]}"' _ "$1" "$2"
}
[[ $(words --mode "") == "2 4 16" ]] || fail "--mode completes to '$(words --mode "")'"
# The caption and the spelling other tools use, both of Floyd.
[[ $(words --method flo) == "floyd floyd-steinberg" ]] || fail "--method flo completes to '$(words --method flo)'"
[[ $(words --palette b) == "best best-per-scene best-per-line black bright-black blue" ]] ||
    fail "--palette b: '$(words --palette b)'"

$SUDO dpkg -r pelorin >/dev/null
installed=0
[[ ! -e /usr/bin/pelorin && ! -e /usr/share/pelorin ]] || fail "dpkg -r left files behind"
! grep -q 'x-tvc-kep' /usr/share/mime/globs2 || fail "the .kep file type outlived the package"
echo "package test: $(basename "$deb") built, installed, used and removed"
