#!/usr/bin/env bash
# One command from a fresh machine: installs the build dependencies, builds everything,
# installs the Torvane VST plug-in into ~/.vst/ and renders the demo phrase through the
# project's own command-line host to demo.wav (in the current folder).
#
# Waits for another package manager's lock (APT_LOCK_TIMEOUT seconds, default 600); a failure
# says which step failed.
set -euo pipefail
out="$(pwd)/demo.wav"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

step="starting"
trap 'status=$?; echo "setup.sh: failed while $step (exit $status)" >&2; exit $status' ERR

step="installing the build dependencies (tools/install-deps.sh)"
bash tools/install-deps.sh
step="configuring the build (cmake)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
step="building (cmake --build build)"
cmake --build build -j"$(nproc)"
step="installing the plug-in into $HOME/.vst"
mkdir -p "$HOME/.vst"
cp build/src/plugin/Torvane.so "$HOME/.vst/"
step="rendering the demo phrase to $out"
# The demo's chords and held notes sum above full scale at the default patch's level.
build/tools/vsthost --gain -8 -o "$out" "$HOME/.vst/Torvane.so"
trap - ERR
echo "Installed $HOME/.vst/Torvane.so; demo rendered to $out"
