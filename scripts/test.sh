#!/usr/bin/env bash
# Installs what Corvane needs, builds it and runs every test; then builds the
# core again with AddressSanitizer and UndefinedBehaviorSanitizer and runs the
# tests once more. Set CORVANE_SKIP_SANITIZE=1 to skip the second pass.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export LC_ALL=C.UTF-8 LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen
bash scripts/build.sh build
(cd build && ctest --output-on-failure -j "$(nproc)")
if [ "${CORVANE_SKIP_SANITIZE:-0}" != "1" ]; then
    bash scripts/build.sh build-asan -DCORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
    export ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    (cd build-asan && ctest --output-on-failure -j "$(nproc)")
fi
