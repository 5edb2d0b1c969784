#!/usr/bin/env bash
# Installs what Corvane needs, builds it and runs every test; then builds the
# core again with AddressSanitizer and UndefinedBehaviorSanitizer and runs the
# tests once more. Set CORVANE_SKIP_SANITIZE=1 to skip the second pass, and
# CORVANE_WERROR=1 to turn compiler warnings into errors (CI does).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export LC_ALL=C.UTF-8 LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen
werror=()
if [ "${CORVANE_WERROR:-0}" = "1" ]; then werror=(-DCORVANE_WERROR=ON); fi
bash scripts/build.sh build "${werror[@]}"
(cd build && ctest --output-on-failure -j "$(nproc)")
if [ "${CORVANE_SKIP_SANITIZE:-0}" != "1" ]; then
    # -O1 without debug information: the sanitizers' reports name the
    # functions, and the build takes far less time than with -O2 -g.
    bash scripts/build.sh build-asan -DCORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_FLAGS_RELEASE=-O1 -DCORVANE_BUILD_BENCH=OFF "${werror[@]}"
    # Leaks are looked for in the Qt-free tests; the window tests switch it
    # off (tests/CMakeLists.txt), since Qt and fontconfig keep their caches
    # to the end of the process. Third-party leaks are in tests/lsan.supp.
    export ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    (cd build-asan && ctest --output-on-failure -j "$(nproc)")
fi
