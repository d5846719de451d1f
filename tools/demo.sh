#!/usr/bin/env bash
# From a fresh machine: installs the build dependencies, builds the Torvane VST plug-in and
# the command-line host, installs Torvane.so into ~/.vst/ and renders the demo phrase
# through it to demo.wav (in the current folder).
set -euo pipefail
out="$(pwd)/demo.wav"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)" --target TorvanePlugin vsthost_cli
mkdir -p "$HOME/.vst"
cp build/src/plugin/Torvane.so "$HOME/.vst/"
# The demo's chords and held notes sum above full scale at the default patch's level.
build/tools/vsthost --gain -8 -o "$out" "$HOME/.vst/Torvane.so"
