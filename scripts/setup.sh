#!/usr/bin/env bash
# Installs, from Debian's packages, whatever Pelorin needs to build, test and run and is not
# there yet. Safe to run again: when everything is present it only asks dpkg and returns.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libgl-dev
    libavformat-dev libavcodec-dev libavfilter-dev libswscale-dev libavutil-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    ffmpeg
    pasmo libz80ex-dev
    help2man
)
# What scripts/package_test.sh (run by scripts/test.sh) checks the Debian package with.
if [[ "${PELORIN_SETUP_PACKAGING:-0}" == 1 ]]; then
    packages+=(dpkg-dev file lintian desktop-file-utils appstream shared-mime-info)
fi
# MAME, whose TVC driver runs the .cas programs in the test command's tvc_mame_check (about
# 340 MB: only the test command asks for it, not the start script).
if [[ "${PELORIN_SETUP_MAME:-0}" == 1 ]]; then
    packages+=(mame)
fi
# clang and its sanitizer runtimes, for the fuzzing build.
if [[ "${PELORIN_SETUP_EXTRAS:-0}" == 1 ]]; then
    packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    SUDO=""
    if [[ $(id -u) != 0 ]]; then SUDO="sudo"; fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
