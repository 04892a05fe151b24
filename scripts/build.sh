#!/usr/bin/env bash
# Configures and builds into build/ (Release with debug info): everything, or only the targets
# named as arguments (scripts/start.sh names the window's, so it appears without waiting for the
# tests, benchmarks and fuzzers).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if (($# > 0)); then
    targets=()
    for target in "$@"; do
        targets+=(--target "$target")
    done
    cmake --build build -j "$(nproc)" "${targets[@]}"
else
    cmake --build build -j "$(nproc)"
fi
