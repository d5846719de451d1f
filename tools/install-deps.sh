#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (only those missing).
#
# When another package manager holds the lock (an unattended upgrade, a second terminal), apt
# waits for it up to APT_LOCK_TIMEOUT seconds (default 600) instead of failing at once. A failure
# names the step that failed.
set -euo pipefail
pkgs=(cmake ninja-build g++ clang clang-format-14 libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev ccache pkg-config
  libcairo2-dev fonts-liberation2 libxcb1-dev libxkbcommon-x11-dev libxcb-xtest0-dev xvfb xfsprogs)
# The X11 tests also run under a reparenting window manager; installed without its recommends.
lean=(openbox)
timeout=${APT_LOCK_TIMEOUT:-600}
case "$timeout" in
  '' | *[!0-9]*)
    echo "install-deps.sh: APT_LOCK_TIMEOUT must be a whole number of seconds, not '$timeout'" >&2
    exit 2
    ;;
esac

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
missing_lean=()
for p in "${lean[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing_lean+=("$p")
done
[ ${#missing[@]} -gt 0 ] || [ ${#missing_lean[@]} -gt 0 ] || exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
# Both the package lists and the package database wait for their lock.
apt_options=(-o "DPkg::Lock::Timeout=$timeout" -o "Acquire::Retries=3")

run_step() {
  local what=$1
  shift
  local status=0
  "$@" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "install-deps.sh: failed while $what (exit $status; a package manager holding the lock" \
      "longer than ${timeout} s also ends here)" >&2
    exit "$status"
  fi
}

run_step "refreshing the package lists (apt-get update)" $SUDO apt-get "${apt_options[@]}" update -qq
[ ${#missing[@]} -eq 0 ] || run_step "installing ${missing[*]} (apt-get install)" \
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" install -y -qq "${missing[@]}"
[ ${#missing_lean[@]} -eq 0 ] || run_step "installing ${missing_lean[*]} (apt-get install)" \
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" install -y -qq \
  --no-install-recommends "${missing_lean[@]}"
