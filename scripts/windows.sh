#!/usr/bin/env bash
# Cross-builds the 32-bit Windows DLLs and tests with mingw-w64, runs the host
# and unit tests under Wine in a fresh scratch prefix, and checks that the
# DLLs export every function their public headers declare, by plain name.
# With a native build (VX_NATIVE_BUILD_DIR, default build-test), its
# integration tests also run the Windows vxavi.exe under Wine on ffmpeg-made
# files and compare it with ffprobe and the native vxavi.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VX_WIN_BUILD_DIR:-build-win}
jobs=$(nproc)

cmake --no-warn-unused-cli -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVX_WERROR=ON -DVX_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j"$jobs"
bin=$build/bin

failed=0

# ---- exports ----
# Names the headers declare with the given export macro.
declared() {
  local macro=$1; shift
  grep -hv '^[[:space:]]*#' "$@" | tr '\n' ' ' | grep -oE "$macro[^;(]*\(" | sed -E 's/\($//; s/.*[^A-Za-z0-9_]//' | sort -u
}
# Names the DLL's export table lists.
exported() {
  i686-w64-mingw32-objdump -p "$1" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -oE '\] [^ ]+$' | cut -c3- | sort -u
}
check_exports() {
  local dll=$1 macro=$2; shift 2
  local want have missing
  want=$(declared "$macro" "$@")
  have=$(exported "$dll")
  if [ -z "$want" ]; then
    echo "FAIL exports: no $macro declarations found in $*"; failed=1; return
  fi
  missing=$(comm -23 <(echo "$want") <(echo "$have"))
  if [ -n "$missing" ]; then
    echo "FAIL exports: $(basename "$dll") lacks: $(echo $missing)"; failed=1
  else
    echo "PASS exports: $(basename "$dll") lists all $(echo "$want" | wc -l) $macro functions by plain name"
  fi
}
check_exports "$bin/vxmedia.dll" VXAPI include/vxmedia/*.h
check_exports "$bin/VexaInfo.dll" VXHOSTAPI hostlib/include/VexaInfo.h

# ---- tests under Wine ----
prefix=$(mktemp -d /tmp/vx-wineprefix.XXXXXX)
cleanup() {
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all WINEARCH=win32
wineboot -i >/dev/null 2>&1
wineserver -w

# A profile key in the prefix's WIN.INI, which the library must see.
wininit=$prefix/drive_c/windows/win.ini
printf '[Override]\r\nAVIChunkMB=16\r\n' >>"$wininit"
export VX_TEST_WININI_AVICHUNKMB=16

for t in vx_hostlib_tests vx_unit_tests; do
  log=$build/$t.wine.log
  if (cd "$bin" && timeout 900 wine "$t.exe" --gtest_brief=1) >"$log" 2>&1; then
    echo "PASS $t: $(grep -E '^\[  PASSED  \]' "$log" | head -1)$(grep -E '^\[  SKIPPED \] [0-9]' "$log" | sed 's/^\[  SKIPPED \]/, skipped/' | head -1)"
  else
    echo "FAIL $t (log: $log)"
    grep -E '^\[  FAILED  \]|Failure' "$log" | head -20 || tail -20 "$log"
    failed=1
  fi
done

# ---- the Windows vxavi against the native one on ffmpeg-made files ----
# The native integration tests drive vxavi.exe through Wine in this prefix.
native=${VX_NATIVE_BUILD_DIR:-build-test}
itest=$native/tests/vx_integration_tests
if [ ! -x "$itest" ]; then
  echo "SKIP wine vxavi vs native: no $itest (build the native tests there, or set VX_NATIVE_BUILD_DIR)"
elif ! "$itest" --gtest_list_tests --gtest_filter='Wine*' | grep '^ ' >/dev/null; then
  echo "FAIL wine vxavi vs native: $itest has no Wine tests (an old build? rebuild it)"
  failed=1
else
  log=$build/vx_integration_tests.wine.log
  if VX_WINE_VXAVI="$(cd "$bin" && pwd)/vxavi.exe" timeout 900 "$itest" --gtest_filter='Wine*' \
    --gtest_brief=1 >"$log" 2>&1; then
    echo "PASS wine vxavi vs native: $(grep -E '^\[  PASSED  \]' "$log" | head -1)$(grep -E '^\[  SKIPPED \] [0-9]' "$log" | sed 's/^\[  SKIPPED \]/, skipped/' | head -1)"
  else
    echo "FAIL wine vxavi vs native (log: $log)"
    grep -E '^\[  FAILED  \]|Failure' "$log" | head -20 || tail -20 "$log"
    failed=1
  fi
fi

if [ $failed -eq 0 ]; then echo "windows: all passed"; else echo "windows: FAILED"; fi
exit $failed
