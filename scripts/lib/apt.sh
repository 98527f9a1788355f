# apt-get with retries, sourced by the set-up scripts. A package index that
# fails to download (a mirror mid-sync serves a file of the wrong size) is a
# warning: the install that follows decides whether what was fetched is enough.
# Set APT_ROOT to run apt-get inside that root directory instead of here.

export DEBIAN_FRONTEND=noninteractive

apt_cmd() {
  if [ -n "${APT_ROOT:-}" ]; then chroot "$APT_ROOT" apt-get "$@"; else apt-get "$@"; fi
}

# apt_update: up to three tries, a short pause between them. Prints one
# warning line naming what stayed missing; always returns 0.
apt_update() {
  local try log
  log=$(mktemp)
  for try in 1 2 3; do
    if apt_cmd update -qq >"$log" 2>&1; then rm -f "$log"; return 0; fi
    [ "$try" -lt 3 ] && sleep $((try * 5))
  done
  echo "warning: apt-get update failed 3 times; going on with the index it has:" \
    "$(grep -m1 -E '^(E|W): ' "$log" || tail -n1 "$log")"
  rm -f "$log"
  return 0
}

# The suites whose index for ARCH could not be fetched by the last update,
# from apt's own list of what it has (their names as the Release files give them).
apt_suites_missing_arch() {
  local arch=$1 lists=${APT_ROOT:-}/var/lib/apt/lists rel suite dir
  for rel in "$lists"/*_InRelease "$lists"/*_Release; do
    [ -f "$rel" ] || continue
    suite=$(sed -n 's/^Codename: //p' "$rel" | head -n1)
    grep -q "^Architectures:.* $arch\b" "$rel" || continue
    dir=${rel%_InRelease}; dir=${dir%_Release}
    ls "${dir}"_*_binary-"${arch}"_Packages* >/dev/null 2>&1 || echo "$suite"
  done | sort -u
}

# apt_install LOG PKG...: installs what is missing, retrying once after a
# pause and a fresh index. apt-get's output goes to LOG; returns its status.
apt_install() {
  local log=$1; shift
  local missing=() p
  for p in "$@"; do
    dpkg_installed "$p" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  apt_update
  if apt_cmd install -y -q --no-install-recommends "${missing[@]}" >"$log" 2>&1; then return 0; fi
  sleep 10
  apt_update
  apt_cmd install -y -q --no-install-recommends "${missing[@]}" >"$log" 2>&1
}

dpkg_installed() {
  local q=(dpkg-query -W -f='${Status}' "$1")
  if [ -n "${APT_ROOT:-}" ]; then q=(chroot "$APT_ROOT" "${q[@]}"); fi
  "${q[@]}" 2>/dev/null | grep -q "install ok installed"
}

# One line of why an install failed, from its log.
apt_why() {
  local log=$1 first unmet
  first=$(grep -m1 -E '^E: ' "$log" || tail -n1 "$log")
  unmet=$(grep -oE '[^ ]+ : Depends: [^ ]+' "$log" | head -n3 | tr '\n' ';' | sed 's/;$//')
  echo "${first#E: }${unmet:+ (unmet: $unmet)}"
}
