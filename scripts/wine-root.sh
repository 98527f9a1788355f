#!/usr/bin/env bash
# Wine in a Debian 12 root of its own, for machines where wine32:i386 cannot be
# installed beside the packages already there: its i386 libraries must be the
# very versions of their amd64 twins, and when a suite's i386 index failed to
# download while its amd64 updates are installed, no matching set exists. A
# root made from the main suite alone always has one. Nothing on the machine
# itself is changed or downgraded.
#
#   wine-root.sh ensure         make the root if it is not ready (minutes once, then instant)
#   wine-root.sh ready          exit 0 when the root is ready
#   wine-root.sh enter DIR...   mount /proc, /dev, /tmp and each DIR at its own path in the root
#   wine-root.sh leave          end its Wine processes and undo enter
#   wine-root.sh run CMD...     run CMD in the root, in the current directory
#
# The root is VX_WINE_ROOT (default /var/cache/vxmedia/wine-root); the mirror
# VX_DEBIAN_MIRROR (default http://deb.debian.org/debian).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=${VX_WINE_ROOT:-/var/cache/vxmedia/wine-root}
mirror=${VX_DEBIAN_MIRROR:-http://deb.debian.org/debian}
stamp=$root/.vx-wine-ready
# shellcheck source=lib/mounts.sh
. "$here/lib/mounts.sh"

mounted() { mountpoint -q "$1" 2>/dev/null; }

ensure() {
  [ -f "$stamp" ] && return 0
  command -v debootstrap >/dev/null || {
    # shellcheck source=lib/apt.sh
    . "$here/lib/apt.sh"
    local log; log=$(mktemp)
    apt_install "$log" debootstrap || { echo "wine root: debootstrap could not be installed: $(apt_why "$log")"; return 1; }
  }
  if [ ! -x "$root/usr/bin/apt-get" ]; then
    echo "wine root: making a Debian 12 root in $root"
    rm -rf "$root"
    mkdir -p "$(dirname "$root")"
    local log; log=$(mktemp)
    if ! debootstrap --variant=minbase --arch=amd64 bookworm "$root" "$mirror" >"$log" 2>&1; then
      echo "wine root: debootstrap failed: $(grep -m1 -E '^[EW]: ' "$log" || tail -n1 "$log")"
      return 1
    fi
  fi
  chroot "$root" dpkg --add-architecture i386
  mount_system
  local status=0 log
  log=$(mktemp)
  (
    # shellcheck source=lib/apt.sh
    . "$here/lib/apt.sh"
    APT_ROOT=$root
    apt_install "$log" wine wine32:i386 || { echo "wine root: Wine could not be installed there: $(apt_why "$log")"; exit 1; }
  ) || status=1
  unmount_all
  [ $status -eq 0 ] || return 1
  touch "$stamp"
  echo "wine root: ready (wine $(chroot "$root" dpkg-query -W -f='${Version}' wine32:i386))"
}

mount_system() {
  mounted "$root/proc" || mount -t proc proc "$root/proc"
  if ! mounted "$root/dev"; then
    mount --rbind /dev "$root/dev"
    mount --make-rslave "$root/dev"
  fi
  # apt-get inside the root resolves names with the machine's own settings.
  cp -f /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
}

enter() {
  [ -f "$stamp" ] || { echo "wine root: not ready (run: $0 ensure)"; return 1; }
  mount_system
  local dir
  for dir in /tmp "$@"; do
    dir=$(cd "$dir" && pwd)
    mkdir -p "$root$dir"
    mounted "$root$dir" || mount --bind "$dir" "$root$dir"
  done
}

unmount_all() { unmount_under "$root"; }

leave() {
  [ -d "$root" ] || return 0
  if mounted "$root/proc"; then chroot "$root" wineserver -k >/dev/null 2>&1 || true; fi
  unmount_all
}

run() {
  # The root's own PATH: the caller's may start with wrappers that call this
  # script, and /tmp is the same folder inside.
  exec chroot "$root" env -C "$PWD" PATH=/usr/local/bin:/usr/bin:/bin "$@"
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case $cmd in
  ensure) ensure ;;
  ready) [ -f "$stamp" ] ;;
  enter) enter "$@" ;;
  leave) leave ;;
  run) run "$@" ;;
  *) echo "usage: $0 ensure|ready|enter DIR...|leave|run CMD..." >&2; exit 2 ;;
esac
