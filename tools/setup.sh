#!/usr/bin/env bash
# One command from a fresh machine: installs the build dependencies, builds everything,
# installs the Torvane VST plug-in into ~/.vst/ and renders the demo phrase through the
# project's own command-line host to demo.wav (in the current folder).
set -euo pipefail
out="$(pwd)/demo.wav"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
mkdir -p "$HOME/.vst"
cp build/src/plugin/Torvane.so "$HOME/.vst/"
# The demo's chords and held notes sum above full scale at the default patch's level.
build/tools/vsthost --gain -8 -o "$out" "$HOME/.vst/Torvane.so"
echo "Installed $HOME/.vst/Torvane.so; demo rendered to $out"
