#!/usr/bin/env bash
# Checks the layer check itself: a tree that keeps the one-way order passes, and each planted
# upward (or sideways) include fails it, naming the file and line.
#
#   check-layers-test.sh path/to/check-layers.sh
set -euo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
failures=0

plant() { # file, contents
  mkdir -p "$(dirname "$tree/src/$1")"
  printf '%s\n' "$2" >"$tree/src/$1"
}

# A tree that keeps the order.
plant platform/Stand.h '#pragma once'
plant platform/gfx/View.h '#include "platform/Stand.h"'
plant framework/Core.h '#include "platform/gfx/View.h"
#include <vector>
#include "Local.h"'
plant dsp/Filter.h '#include "framework/Core.h"'
plant toolkit/Control.h '#include "platform/gfx/View.h"'
plant vst/Adapter.h '#include "framework/Core.h"'
plant engine/InstrumentPlatform.h '#include "vst/Adapter.h"'
plant engine/Voice.cpp '#include "dsp/Filter.h"
#include "engine/InstrumentPlatform.h"'
plant editor/Root.h '#include "engine/InstrumentPlatform.h"
#include "toolkit/Control.h"'
plant plugin/Entry.cpp '#include "editor/Root.h"'

if ! bash "$check" "$tree" >/dev/null 2>&1; then
  echo "FAIL: a tree in order was refused"
  bash "$check" "$tree" || true
  failures=$((failures + 1))
fi

# Each wrong include alone must fail, with its place in the report.
expect_refused() { # file, include, what
  local file=$1 include=$2 what=$3
  local saved=""
  [ -f "$tree/src/$file" ] && saved=$(cat "$tree/src/$file")
  plant "$file" "$saved
  #  include \"$include\""
  local out
  if out=$(bash "$check" "$tree" 2>&1); then
    echo "FAIL: $what was accepted"
    failures=$((failures + 1))
  elif ! grep -q "src/$file:" <<<"$out"; then
    echo "FAIL: $what: the report does not name src/$file: $out"
    failures=$((failures + 1))
  fi
  if [ -n "$saved" ]; then printf '%s\n' "$saved" >"$tree/src/$file"; else rm -f "$tree/src/$file"; fi
}

expect_refused framework/Core.h engine/InstrumentPlatform.h "framework including the engine"
expect_refused platform/gfx/View.h framework/Core.h "the view layer including the framework"
expect_refused dsp/Filter.h toolkit/Control.h "dsp including its sibling toolkit"
expect_refused vst/Adapter.h engine/InstrumentPlatform.h "an adapter including the engine"
expect_refused engine/Voice.cpp editor/Root.h "the engine including the editor"
expect_refused editor/Root.h plugin/Entry.cpp "the editor including the plug-in"
expect_refused engine/Voice.cpp vst/Adapter.h "an engine file other than InstrumentPlatform.h naming the adapter"

if [ $failures -eq 0 ]; then echo "layer check: ok"; fi
exit $((failures > 0))
