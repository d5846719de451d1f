#!/usr/bin/env bash
# Lets a third-party host check VST 2.4 plug-in libraries: Ardour's headless scanner loads
# each one, opens an instance and reads its facts. Passes when every library is accepted
# as a stereo instrument.
#
#   tools/scan-with-ardour.sh PLUGIN.so...
#
# The scanner comes with Debian's "ardour" package (apt-get install --no-install-recommends
# ardour). Without it the check is skipped (exit 77), unless TORVANE_REQUIRE_THIRD_PARTY_SCAN=1
# makes that a failure.
set -euo pipefail

scanner=$(ls /usr/lib/ardour*/ardour-vst-scanner 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$scanner" ]; then
  echo "ardour-vst-scanner not installed (Debian package: ardour)" >&2
  [ "${TORVANE_REQUIRE_THIRD_PARTY_SCAN:-0}" = 1 ] && exit 1
  exit 77
fi
[ $# -gt 0 ] || { echo "usage: $0 PLUGIN.so..." >&2; exit 2; }

# The scanner's own libraries live beside it; its cache goes to a throw-away home.
export LD_LIBRARY_PATH="$(dirname "$scanner")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT

status=0
for plugin in "$@"; do
  out=$(HOME="$home" XDG_CACHE_HOME="$home/.cache" timeout 120 "$scanner" -f "$plugin" 2>&1) || {
    echo "FAIL $plugin: the scanner exited with an error" >&2
    echo "$out" >&2
    status=1
    continue
  }
  info=$(cat "$home"/.cache/ardour*/vst/*.v2i 2>/dev/null || true)
  rm -f "$home"/.cache/ardour*/vst/*.v2i
  if echo "$info" | grep -q 'is_instrument="1"' && echo "$info" | grep -q 'n_outputs="2"'; then
    echo "ok   $plugin: $(echo "$info" | grep -o 'name="[^"]*"' | head -n 1)"
  else
    echo "FAIL $plugin: not indexed as a stereo instrument" >&2
    echo "$out" >&2
    status=1
  fi
done
exit $status
