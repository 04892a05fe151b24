#!/usr/bin/env bash
# Sets up, builds and starts Pelorin. Only the window and the sample video beside it are built;
# scripts/test.sh builds the rest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh pelorin sample_video
if [[ ! -x build/pelorin ]]; then
    echo "start: build/pelorin was not built (the window needs Qt 6 Widgets)" >&2
    exit 1
fi
exec build/pelorin "$@"
