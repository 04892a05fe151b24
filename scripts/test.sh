#!/usr/bin/env bash
# Sets up, builds and runs every test (MAME included: PELORIN_REQUIRE_MAME makes its check fail
# rather than skip where MAME is missing); then makes the Debian package, installs it, uses it and
# removes it (scripts/package_test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
PELORIN_SETUP_PACKAGING=1 PELORIN_SETUP_MAME=1 bash scripts/build.sh
(cd build && PELORIN_REQUIRE_MAME=1 QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)")
bash scripts/package_test.sh build
