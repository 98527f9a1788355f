#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need.
# Quick when everything is already there: apt-get runs only for what is missing.
set -euo pipefail

packages=(
  cmake make g++ clang libclang-rt-14-dev pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg libavformat-dev libavcodec-dev libavutil-dev
)
if [ "${1:-}" = "--demo" ]; then
  packages=(cmake make g++ ffmpeg)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
