#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need.
# Quick when everything is already there: apt-get runs only for what is missing.
set -euo pipefail

packages=(
  cmake make g++ clang libclang-rt-14-dev pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  # Other programs' readers of the files the writer makes.
  mediainfo gstreamer1.0-tools gstreamer1.0-plugins-good
)
# The 32-bit Windows build and its test run under Wine (scripts/windows.sh).
windows_packages=(g++-mingw-w64-i686 googletest wine wine32:i386)
if [ "${1:-}" = "--demo" ]; then
  packages=(cmake make g++)
  windows_packages=()
fi

missing=()
for p in "${windows_packages[@]}"; do
  case $p in
    *:i386)
      dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && continue
      # wine32 comes from the i386 architecture: enable it once.
      if ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "Enabling the i386 architecture"
        dpkg --add-architecture i386
      fi
      ;;
  esac
  packages+=("$p")
done
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
