#!/usr/bin/env bash
# Installs a build into a scratch prefix and uses it as a user would: two
# programs built against it, one through pkg-config and one through
# find_package, read a file the installed vxavi wrote, and agree with ffprobe;
# the installed vxavi decodes an MJPEG file through the installed codec driver
# with no set-up; the user's profile overrides the installed one; and all of
# it still works after the prefix is moved.
#
# Usage: install_test.sh BUILD_DIR SOURCE_DIR C_COMPILER
set -euo pipefail
build=$1 src=$2 cc=$3
work=$(mktemp -d /tmp/vx-install-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# No profile of the machine's user may take part.
export HOME=$work/home
unset VXMEDIA_PROFILE
mkdir -p "$HOME"

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libvxmedia.so.0' | head -n1)")
[ -n "$libdir" ] || fail "no libvxmedia.so.0 installed"
soname=$(readelf -d "$libdir/libvxmedia.so" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
[ "$soname" = libvxmedia.so.0 ] || fail "SONAME is '$soname'"

"$prefix/bin/vxavi" demo "$work/demo.avi" >/dev/null

# What ffprobe finds in the video stream.
expected=$(ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$work/demo.avi" |
  awk -v s="$(ffprobe -v error -show_entries format=nb_streams -of csv=p=0 "$work/demo.avi")" \
    '{ n++; b += $1 } END { printf "streams %d frames %d bytes %d\n", s, n, b }')

build_consumers() {
  local prefix=$1 out=$2
  mkdir -p "$out"
  # shellcheck disable=SC2046
  "$cc" -o "$out/consumer-pc" "$src/tests/install/consumer.c" \
    $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs vxmedia) \
    -Wl,-rpath,"$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --variable=libdir vxmedia)" ||
    fail "the pkg-config consumer does not build"
  cmake -S "$src/tests/install" -B "$out/cmake" -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_PREFIX_PATH="$prefix" >"$out/cmake.log" 2>&1 &&
    cmake --build "$out/cmake" >>"$out/cmake.log" 2>&1 || { cat "$out/cmake.log"; fail "the find_package consumer does not build"; }
}

check_prefix() {
  local prefix=$1 name=$2 got way
  libdir=$(dirname "$(find "$prefix" -name 'libvxmedia.so.0' | head -n1)")
  build_consumers "$prefix" "$work/$name"
  for way in consumer-pc cmake/consumer; do
    got=$("$work/$name/$way" "$work/demo.avi") || fail "$name: $way cannot read the file"
    [ "$got" = "$expected" ] || fail "$name: $way read '$got', ffprobe '$expected'"
  done

  # The installed driver module, found through the installed profile alone.
  local frames decoded
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$work/mjpeg.avi")
  decoded=$("$prefix/bin/vxavi" decode "$work/mjpeg.avi" 2>/dev/null | awk 'NR > 1 && $4 == 32' | wc -l) ||
    fail "$name: vxavi decode failed"
  [ "$decoded" -eq "$frames" ] || fail "$name: vxavi decoded $decoded of $frames MJPEG frames"

  # The audio driver modules, named in the installed profile by file name.
  local audio
  for audio in lavc pcm; do
    grep -qx "msacm.$audio=msacm_$audio.so" "$prefix/etc/vxmedia/profile.ini" ||
      fail "$name: the installed profile does not name msacm_$audio.so"
    [ -f "$libdir/vxmedia/drivers/msacm_$audio.so" ] || fail "$name: msacm_$audio.so is not installed"
  done

  # A key of the user's profile wins over the installed one: every key the
  # installed profile has (the compressors decompress too), naming a driver
  # that does not exist.
  mkdir -p "$HOME/.config/vxmedia"
  sed "s#=.*#=$work/no-such-driver.so#" "$prefix/etc/vxmedia/profile.ini" >"$HOME/.config/vxmedia/profile.ini"
  if "$prefix/bin/vxavi" decode "$work/mjpeg.avi" >/dev/null 2>&1; then
    fail "$name: decoded with the user's profile naming a driver that does not exist"
  fi
  rm "$HOME/.config/vxmedia/profile.ini"
  echo "PASS $name: pkg-config and find_package consumers read '$got'; vxavi decoded $decoded MJPEG frames"
}

ffmpeg -v error -f lavfi -i testsrc=size=96x64:rate=25 -t 0.4 -c:v mjpeg "$work/mjpeg.avi"
check_prefix "$prefix" installed
mv "$prefix" "$work/moved"
check_prefix "$work/moved" moved
