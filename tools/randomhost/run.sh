#!/usr/bin/env bash
# Runs the random host on fixed seeds under a private Xvfb, with the plug-in and the host built
# in the given build folder (configured already: the address sanitizer's build-asan, the thread
# sanitizer's build-tsan). Each run prints its seed; its action log and output go to a file,
# whose last lines are shown when the run fails.
#
#   tools/randomhost/run.sh BUILD_DIR [SECONDS] [SEED...]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$1
seconds=${2:-60}
shift $(( $# >= 2 ? 2 : 1 ))
seeds=("$@")
[ ${#seeds[@]} -gt 0 ] || seeds=(11 221 3001)

cmake --build "$build" -j"$(nproc)" --target randomhost TorvanePlugin

work=$(mktemp -d)
xvfb=
cleanup() {
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
  rm -rf "$work/home"
}
trap cleanup EXIT

# A display of its own (Xvfb picks a free number).
Xvfb -displayfd 3 -screen 0 1920x1440x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "randomhost: Xvfb did not start"; exit 1; }
export DISPLAY=":$(cat "$work/display")"

# The plug-in's saves go to a home of the run's own; fontconfig's caches are never freed.
export LSAN_OPTIONS="suppressions=$PWD/tests/support/gfx/vsthost-lsan.supp ${LSAN_OPTIONS:-}"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 exitcode=66 ${TSAN_OPTIONS:-}"
failed=0
for seed in "${seeds[@]}"; do
  log="$PWD/$build/randomhost-$seed.log"
  out="$PWD/$build/randomhost-$seed.out"
  rm -rf "$work/home"
  mkdir -p "$work/home"
  echo "== random host: $build, seed $seed, $seconds s (log: $log)"
  rc=0
  HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config" \
    timeout -s KILL $(( ${seconds%.*} + 300 )) \
    "$build/tools/randomhost" --plugin "$build/src/plugin/Torvane.so" --seed "$seed" \
    --seconds "$seconds" --log "$log" >"$out" 2>&1 || rc=$?
  grep '^randomhost:' "$out" || true
  if [ "$rc" != 0 ]; then
    echo "== random host: seed $seed FAILED (exit $rc); the action log's last lines:"
    tail -n 40 "$log" || true
    echo "== its output's last lines:"
    grep -v '^\[message\]' "$out" | tail -n 80 || true
    failed=1
  fi
done
exit $failed
