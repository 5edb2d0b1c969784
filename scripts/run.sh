#!/usr/bin/env bash
# Installs what Corvane needs, builds it, writes a demo drift video and starts
# the program in the demo folder, where the file dialog opens.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
mkdir -p demo
if [ ! -f demo/demo-double-star.avi ] || [ ! -s demo/demo-double-star-truth.txt ]; then
    ./build/corvane-sim demo/demo-double-star.avi --frames 300 --codec grey \
        --separation 12 --pa 60 --dec 30 --scale 1.5 --sky 2 --noise 1.5 --seeing 3 \
        > demo/demo-double-star-truth.txt
fi
cd demo
exec ../build/corvane
