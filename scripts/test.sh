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
    # -O1 without debug information: the sanitizers' reports name the
    # functions, and the build takes far less time than with -O2 -g.
    bash scripts/build.sh build-asan -DCORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_FLAGS_RELEASE=-O1 -DCORVANE_BUILD_BENCH=OFF
    export ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    (cd build-asan && ctest --output-on-failure -j "$(nproc)")
fi
