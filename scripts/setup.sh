#!/usr/bin/env bash
# Installs the Debian 12 packages Corvane needs to build, test, run and
# package, on a fresh machine with nothing assumed (CI proves it in a fresh
# root). help2man writes the tools' man pages; cpack reads the package's
# dependencies with dpkg-dev and file.
set -euo pipefail
PKGS=(cmake g++ make pkg-config
      qt6-base-dev qt6-charts-dev qt6-svg-dev libqt6opengl6-dev libgl1-mesa-dev libxkbcommon-dev
      libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libcfitsio-dev
      libceres-dev nlohmann-json3-dev libfftw3-dev
      libgtest-dev libbenchmark-dev
      fonts-liberation xvfb xauth
      help2man dpkg-dev file)
missing=()
for p in "${PKGS[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo > /dev/null; then
        echo "setup.sh: installing ${missing[*]} needs root: run the command as root," >&2
        echo "or install sudo and run it as a user who may use it." >&2
        exit 1
    fi
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
