# Mounts under a root folder, sourced by the scripts that chroot.

# unmount_under ROOT: every mount at or below ROOT, deepest first so that
# nested binds come off before their parents.
unmount_under() {
  local r=$1 m
  for m in $(awk -v r="$r" '$2 == r || index($2, r "/") == 1 { print $2 }' /proc/mounts | sort -r); do
    umount -l "$m" 2>/dev/null || true
  done
}

# has_mounts_below ROOT: exit 0 when something is still mounted below ROOT.
has_mounts_below() {
  awk -v r="$1" 'index($2, r "/") == 1 { found = 1 } END { exit !found }' /proc/mounts
}
