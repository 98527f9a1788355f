#!/usr/bin/env bash
# Proves the README's promise: its two commands work as root on a fresh
# Debian 12 machine. Makes a new Debian 12 root with debootstrap (minbase,
# with the main, updates and security suites a Debian install lists),
# clones the repository's committed HEAD into it with shared/ beside it as CI
# has it, and runs scripts/demo.sh and then scripts/test.sh there under
# chroot with a clean environment. Prints the last lines of each and exits
# with the status of the first that failed. Needs root and network access
# to the Debian mirror.
#
# Usage: fresh-machine.sh [--keep]    --keep leaves the root for a look
# VX_FRESH_ROOT names the root (default /var/tmp/vx-fresh-machine);
# VX_DEBIAN_MIRROR the mirror (default http://deb.debian.org/debian).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
root=${VX_FRESH_ROOT:-/var/tmp/vx-fresh-machine}
mirror=${VX_DEBIAN_MIRROR:-http://deb.debian.org/debian}
keep=0
[ "${1:-}" = "--keep" ] && keep=1
log_dir=$repo/build-fresh
mkdir -p "$log_dir"

[ "$(id -u)" -eq 0 ] || { echo "fresh-machine.sh: run as root (debootstrap and chroot)"; exit 1; }

# shellcheck source=lib/mounts.sh
. scripts/lib/mounts.sh
unmount_all() { unmount_under "$root"; }
remove_root() {
  unmount_all
  # Never through a mount that is still there.
  if has_mounts_below "$root"; then
    echo "fresh-machine.sh: mounts are left under $root; not removing it"
    return 1
  fi
  rm -rf --one-file-system "$root"
}
finish() {
  if [ $keep -eq 1 ]; then unmount_all; echo "root kept: $root"; else remove_root || true; fi
}

[ -e "$root" ] && remove_root
command -v debootstrap >/dev/null || {
  # shellcheck source=lib/apt.sh
  . scripts/lib/apt.sh
  apt_install "$log_dir/apt.log" debootstrap || { echo "debootstrap could not be installed: $(apt_why "$log_dir/apt.log")"; exit 1; }
}
trap finish EXIT

echo "== debootstrap bookworm into $root"
start=$(date +%s)
debootstrap --variant=minbase --arch=amd64 bookworm "$root" "$mirror" >"$log_dir/debootstrap.log" 2>&1 ||
  { tail -n5 "$log_dir/debootstrap.log"; exit 1; }
security=${mirror%/debian}/debian-security
cat >"$root/etc/apt/sources.list" <<LIST
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
LIST
cp -f /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys"
mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev"

echo "== clone $(git rev-parse --short HEAD) with shared/ beside it"
git clone -q "$repo" "$root/root/vxmedia"
[ -d ../shared ] && cp -a ../shared "$root/root/shared"

in_root() {
  chroot "$root" env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 CI=true bash -c "cd /root/vxmedia && $1"
}

status=0
echo "== scripts/demo.sh"
t0=$(date +%s)
if in_root scripts/demo.sh >"$log_dir/demo.log" 2>&1; then
  echo "demo: exit 0 in $(($(date +%s) - t0)) s; its first lines:"
  head -n 12 "$log_dir/demo.log"
else
  status=$?
  echo "demo: FAILED (exit $status, log $log_dir/demo.log):"
  tail -n 20 "$log_dir/demo.log"
fi

echo "== scripts/test.sh"
t0=$(date +%s)
test_status=0
in_root scripts/test.sh >"$log_dir/test.log" 2>&1 || test_status=$?
echo "test: exit $test_status in $(($(date +%s) - t0)) s (log $log_dir/test.log); its summary:"
sed -n '/^=== summary ===/,$p' "$log_dir/test.log"
[ $status -eq 0 ] && status=$test_status
echo "== fresh machine: $([ $status -eq 0 ] && echo passed || echo FAILED) in $(($(date +%s) - start)) s"
exit $status
