#!/usr/bin/env bash
# The 32-bit Windows target, in three steps that report apart:
#
#   windows.sh build    cross-build the DLLs, vxavi.exe and the tests with
#                       mingw-w64, and install them into a scratch prefix
#   windows.sh exports  check that the DLLs export every function their public
#                       headers declare, by plain name
#   windows.sh wine     run the host and unit tests under Wine in a fresh
#                       scratch prefix, and with a native build
#                       (VX_NATIVE_BUILD_DIR, default build-test) the Windows
#                       vxavi.exe against ffprobe and the native vxavi
#   windows.sh          all three
#
# Exit status 0 passed, 1 failed, 77 skipped (the wine step, when this machine
# has no Wine or cannot run 32-bit programs; the reason is the last line, and
# is also written to VX_SKIP_REASON_FILE when that is set). Wine is the
# machine's own when wine32 is installed, else the one in the root that
# scripts/wine-root.sh makes.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

build=${VX_WIN_BUILD_DIR:-build-win}
bin=$build/bin
jobs=$(nproc)

fail() { echo "FAIL $*"; exit 1; }
skip() {
  echo "SKIPPED: $*"
  [ -n "${VX_SKIP_REASON_FILE:-}" ] && echo "$*" >"$VX_SKIP_REASON_FILE"
  exit 77
}

step_build() {
  command -v i686-w64-mingw32-g++-posix >/dev/null ||
    fail "cross build: i686-w64-mingw32-g++-posix not found (package g++-mingw-w64-i686; scripts/deps.sh)"
  cmake --no-warn-unused-cli -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVX_WERROR=ON -DVX_BUILD_TESTS=ON >/dev/null ||
    fail "cross build: cmake could not configure $build"
  cmake --build "$build" -j"$jobs" || fail "cross build: compiling or linking failed (above)"
  # What a user's install gets.
  local prefix f missing=()
  prefix=$(mktemp -d /tmp/vx-win-install.XXXXXX)
  cmake --install "$build" --prefix "$prefix" >/dev/null || { rm -rf "$prefix"; fail "install: cmake --install failed"; }
  for f in bin/vxmedia.dll bin/VexaInfo.dll bin/vxavi.exe lib/libvxmedia.dll.a lib/libVexaInfo.dll.a \
    include/vxmedia/vxmedia.h include/VexaInfo.h lib/pkgconfig/vxmedia.pc lib/cmake/VxMedia/VxMediaConfig.cmake; do
    [ -f "$prefix/$f" ] || missing+=("$f")
  done
  rm -rf "$prefix"
  [ ${#missing[@]} -eq 0 ] || fail "install: the prefix lacks ${missing[*]}"
  echo "PASS cross build and install"
}

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
  [ -f "$dll" ] || { echo "FAIL exports: no $dll (run the build step first)"; return 1; }
  want=$(declared "$macro" "$@")
  have=$(exported "$dll")
  if [ -z "$want" ]; then
    echo "FAIL exports: no $macro declarations found in $*"; return 1
  fi
  missing=$(comm -23 <(echo "$want") <(echo "$have"))
  if [ -n "$missing" ]; then
    echo "FAIL exports: $(basename "$dll") lacks: $(echo $missing)"; return 1
  fi
  echo "PASS exports: $(basename "$dll") lists all $(echo "$want" | wc -l) $macro functions by plain name"
}

step_exports() {
  local failed=0
  check_exports "$bin/vxmedia.dll" VXAPI include/vxmedia/*.h || failed=1
  check_exports "$bin/VexaInfo.dll" VXHOSTAPI hostlib/include/VexaInfo.h || failed=1
  return $failed
}

# A 96-byte static i386 Linux program that exits with status 7: whether this
# kernel runs 32-bit x86 code at all, with no compiler or library needed.
can_run_32bit() {
  local probe status=0
  probe=$(mktemp /tmp/vx-i386-probe.XXXXXX)
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\007\000\000\000\315\200' >"$probe"
  chmod +x "$probe"
  probe_error=$("$probe" 2>&1) || status=$?
  rm -f "$probe"
  [ $status -eq 7 ]
}

wine_mode=
wine_cleanup() {
  [ -n "${WINEPREFIX:-}" ] && { wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"; }
  if [ "$wine_mode" = root ]; then scripts/wine-root.sh leave; fi
  [ -n "${wrappers:-}" ] && rm -rf "$wrappers"
}

# Runs one Windows test program under Wine; prints its result line.
run_wine_test() {
  local t=$1 log=$build/$1.wine.log
  if (cd "$bin" && timeout 900 wine "$t.exe" --gtest_brief=1) >"$log" 2>&1; then
    echo "PASS $t: $(grep -E '^\[  PASSED  \]' "$log" | head -1)$(grep -E '^\[  SKIPPED \] [0-9]' "$log" | sed 's/^\[  SKIPPED \]/, skipped/' | head -1)"
  else
    echo "FAIL $t (log: $log)"
    grep -E '^\[  FAILED  \]|Failure' "$log" | head -20 || tail -20 "$log"
    return 1
  fi
}

step_wine() {
  [ -f "$bin/vx_unit_tests.exe" ] || fail "wine: no $bin/vx_unit_tests.exe (run the build step first)"
  probe_error=
  can_run_32bit || skip "this machine cannot run 32-bit x86 programs (an i386 probe program failed: ${probe_error:-no output})"
  if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" &&
    command -v wine >/dev/null; then
    wine_mode=machine
  elif scripts/wine-root.sh ready; then
    wine_mode=root
  else
    skip "no Wine: wine32:i386 is not installed and no Wine root was made (scripts/deps.sh said why)"
  fi
  trap wine_cleanup EXIT
  if [ $wine_mode = root ]; then
    scripts/wine-root.sh enter "$repo" || fail "wine: could not mount the repository in the Wine root"
    # wine, wineboot and wineserver as commands, for this script and the tests it runs.
    wrappers=$(mktemp -d /tmp/vx-wine-bin.XXXXXX)
    local w
    for w in wine wineboot wineserver; do
      printf '#!/bin/sh\nexec %q run %s "$@"\n' "$repo/scripts/wine-root.sh" "$w" >"$wrappers/$w"
      chmod +x "$wrappers/$w"
    done
    export PATH=$wrappers:$PATH
  fi
  echo "Wine: $(wine --version 2>&1) ($([ $wine_mode = root ] && echo "in the root scripts/wine-root.sh made" || echo "the machine's own"))"

  export WINEPREFIX WINEDEBUG=-all WINEARCH=win32
  WINEPREFIX=$(mktemp -d /tmp/vx-wineprefix.XXXXXX)
  local log=$build/wineboot.log
  if ! timeout 300 wineboot -i >"$log" 2>&1; then
    fail "wine: wineboot could not make a prefix: $(grep -v '^$' "$log" | tail -n1)"
  fi
  wineserver -w

  # A profile key in the prefix's WIN.INI, which the library must see.
  printf '[Override]\r\nAVIChunkMB=16\r\n' >>"$WINEPREFIX/drive_c/windows/win.ini"
  export VX_TEST_WININI_AVICHUNKMB=16

  local failed=0 t
  for t in vx_hostlib_tests vx_unit_tests; do run_wine_test "$t" || failed=1; done

  # The native integration tests drive vxavi.exe through Wine in this prefix.
  local native=${VX_NATIVE_BUILD_DIR:-build-test}
  local itest=$native/tests/vx_integration_tests
  if [ ! -x "$itest" ]; then
    echo "FAIL wine vxavi vs native: no $itest (build the native tests there, or set VX_NATIVE_BUILD_DIR)"
    failed=1
  elif ! "$itest" --gtest_list_tests --gtest_filter='Wine*' | grep '^ ' >/dev/null; then
    echo "FAIL wine vxavi vs native: $itest has no Wine tests (an old build? rebuild it)"
    failed=1
  else
    log=$build/vx_integration_tests.wine.log
    if VX_WINE_VXAVI="$repo/$bin/vxavi.exe" timeout 900 "$itest" --gtest_filter='Wine*' \
      --gtest_brief=1 >"$log" 2>&1; then
      echo "PASS wine vxavi vs native: $(grep -E '^\[  PASSED  \]' "$log" | head -1)$(grep -E '^\[  SKIPPED \] [0-9]' "$log" | sed 's/^\[  SKIPPED \]/, skipped/' | head -1)"
    else
      echo "FAIL wine vxavi vs native (log: $log)"
      grep -E '^\[  FAILED  \]|Failure' "$log" | head -20 || tail -20 "$log"
      failed=1
    fi
  fi
  return $failed
}

case ${1:-all} in
  build) step_build ;;
  exports) step_exports ;;
  wine) step_wine ;;
  all)
    step_build
    step_exports
    status=0
    (step_wine) || status=$?
    exit $status
    ;;
  *) echo "usage: $0 [build|exports|wine]" >&2; exit 2 ;;
esac
