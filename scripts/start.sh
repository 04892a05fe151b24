#!/usr/bin/env bash
# Sets up, builds and starts Pelorin.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
if [[ ! -x build/pelorin ]]; then
    echo "start: build/pelorin was not built (the window needs Qt 6 Widgets)" >&2
    exit 1
fi
exec build/pelorin "$@"
