#!/usr/bin/env bash
# Builds a libFuzzer target (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and fuzzes it for SECONDS seconds: TARGET avi (the default) is the video
# source with the measuring methods, ser the SER reader, fits the FITS reader.
# Usage: [TARGET=ser|fits] scripts/fuzz.sh SECONDS [more libFuzzer options]
# Needs: apt-get install -y clang libclang-rt-14-dev (not part of the normal set-up).
#
# Seeds come from fuzz/corpus and fuzz/regressions (fuzz/corpus-ser and
# fuzz/regressions-ser for ser, and so on); inputs that reach new code collect
# in build-fuzz/corpus[-ser|-fits] (kept between runs, not committed). A crash,
# a timeout (10 s) or a run over the memory limit (2 GB, or one allocation over
# 1 GB) is saved in fuzz/crashes/ and the fuzzing goes on. To keep one for
# good: minimise it with
#   build-fuzz/fuzz/corvane-fuzz[-ser|-fits] -minimize_crash=1 -runs=10000 fuzz/crashes/<file>
# then move it to the target's regressions folder, where the test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:?usage: scripts/fuzz.sh SECONDS [libFuzzer options]}"
shift
if ! command -v clang++ > /dev/null; then
    echo "scripts/fuzz.sh needs clang: apt-get install -y clang libclang-rt-14-dev" >&2
    exit 1
fi
dir=build-fuzz
target="${TARGET:-avi}"
case "$target" in
    avi) binary=corvane-fuzz suffix="" ;;
    ser | fits) binary="corvane-fuzz-$target" suffix="-$target" ;;
    *) echo "unknown TARGET '$target' (avi, ser, fits)" >&2; exit 1 ;;
esac
CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCORVANE_BUILD_FUZZ=ON -DCORVANE_SANITIZE=ON -DCORVANE_BUILD_GUI=OFF \
    -DCORVANE_BUILD_TESTS=OFF > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" -j 2 --target "$binary"
mkdir -p fuzz/crashes "fuzz/regressions$suffix" "$dir/corpus$suffix"
# Leaks inside FFmpeg's error paths are not ours to fix; crashes, overflows,
# undefined behaviour, hangs and memory growth are.
export ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# One fuzzing process at a time (the machine's two cores are shared). libFuzzer
# stops at its first finding, so it is started again until the time is spent.
log="$dir/fuzz$suffix-$(date +%Y%m%d-%H%M%S).log"
end=$((SECONDS + seconds))
while ((SECONDS < end)); do
    rc=0
    started=$SECONDS
    "$dir/fuzz/$binary" -max_total_time=$((end - SECONDS)) -max_len=65536 \
        -rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=10 -artifact_prefix=fuzz/crashes/ \
        -print_final_stats=1 "$@" "$dir/corpus$suffix" "fuzz/corpus$suffix" \
        "fuzz/regressions$suffix" >> "$log" 2>&1 || rc=$?
    if ((rc != 0)); then
        echo "finding (exit $rc), see $log:" >&2
        grep -E "^(SUMMARY|==[0-9]+==ERROR|artifact_prefix|Test unit written)" "$log" | tail -3 >&2
        if ((SECONDS - started < 5)); then
            echo "the corpus itself fails; fix that first" >&2
            exit 1
        fi
    fi
done
runs=$(awk '/^stat::number_of_executed_units/ {s += $NF} END {print s + 0}' "$log")
echo "fuzzed $target for $seconds s: $runs executions; log $log; findings in fuzz/crashes/"
