#!/usr/bin/env bash
# The long run: the window steps 100,000 ticks headless (wrapping past the end of the video and
# at the scroll bar's maximum) and the heap in use must stay flat.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
QT_QPA_PLATFORM=offscreen build/pelorin-soak "${SOAK_TICKS:-100000}" 256
