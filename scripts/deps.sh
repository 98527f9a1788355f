#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, in
# three steps that fail apart: the native packages (required), the Windows
# cross toolchain, and Wine. A problem with the Windows side is reported on
# one line and never stops the native stages; scripts/windows.sh then says
# which of its steps it cannot run. Quick when everything is already there:
# apt-get runs only for what is missing.
#
#   deps.sh           everything
#   deps.sh --demo    only what scripts/demo.sh needs
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib/apt.sh
. "$here/lib/apt.sh"

native=(cmake make g++ zlib1g-dev)
if [ "${1:-}" != "--demo" ]; then
  native+=(
    clang libclang-rt-14-dev pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    ffmpeg libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
    # Other programs' readers of the files the writer makes.
    mediainfo gstreamer1.0-tools gstreamer1.0-plugins-good
  )
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT

if ! apt_install "$log" "${native[@]}"; then
  echo "error: the native packages could not be installed: $(apt_why "$log")"
  exit 1
fi
[ "${1:-}" = "--demo" ] && exit 0

# The 32-bit Windows cross build (googletest: its sources, built for Windows).
if ! apt_install "$log" g++-mingw-w64-i686 googletest libz-mingw-w64-dev; then
  echo "warning: the Windows cross toolchain could not be installed: $(apt_why "$log")"
fi

# Wine for the Windows tests. wine32 comes from the i386 architecture.
wine_on_machine() { dpkg_installed wine && dpkg_installed wine32:i386; }
if ! wine_on_machine && ! "$here/wine-root.sh" ready; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Enabling the i386 architecture"
    dpkg --add-architecture i386
  fi
  if ! apt_install "$log" wine wine32:i386; then
    echo "note: wine32:i386 could not be installed: $(apt_why "$log")"
    # A suite whose i386 index failed to download leaves its amd64 updates
    # without i386 twins. Install from the other suites alone, never
    # downgrading anything: a pin keeps apt from those suites for this call.
    suites=$(apt_suites_missing_arch i386)
    if [ -n "$suites" ]; then
      pin=$(mktemp)
      for s in $suites; do printf 'Package: *\nPin: release n=%s\nPin-Priority: -1\n\n' "$s"; done >"$pin"
      echo "Trying wine32 without the suites whose i386 index is missing: $(echo $suites)"
      if ! apt-get install -y -q --no-install-recommends -o Dir::Etc::Preferences="$pin" \
        wine wine32:i386 >"$log" 2>&1; then
        echo "note: that failed too: $(apt_why "$log")"
      fi
      rm -f "$pin"
    fi
  fi
  if ! wine_on_machine; then
    echo "Wine goes into a Debian 12 root of its own instead (scripts/wine-root.sh)"
    "$here/wine-root.sh" ensure ||
      echo "warning: no Wine: the Windows tests will be skipped (cross build and export checks still run)"
  fi
fi
