#!/usr/bin/env bash
# Builds the whole project with AddressSanitizer + UndefinedBehaviorSanitizer and runs every
# test there; then builds the video device and the frame pipeline with ThreadSanitizer and runs
# their tests, since playback draws from a thread of its own and conversion contexts may run on
# threads side by side. Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs="$(nproc)"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORIN_SANITIZE=address -DPELORIN_BUILD_WINDOW=ON >/dev/null
cmake --build build-asan -j "$jobs"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan-third-party.supp:print_suppressions=0"
(cd build-asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --timeout 900)

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORIN_SANITIZE=thread \
    -DPELORIN_BUILD_WINDOW=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target video_tests pipeline_tests cli_tests
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan-third-party.supp"
(cd build-tsan && ./video_tests --gtest_brief=1 && ./pipeline_tests --gtest_brief=1 \
    && ./cli_tests --gtest_brief=1 --gtest_filter='*Threads*')
