#!/usr/bin/env bash
# Installs the Debian 12 packages Corvane needs to build, test and run.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PKGS=(cmake g++ make pkg-config
      qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl1-mesa-dev libxkbcommon-dev
      libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libcfitsio-dev
      libgtest-dev libbenchmark-dev
      fonts-liberation xvfb xauth)
missing=()
for p in "${PKGS[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
