#!/usr/bin/env bash
# Checks the layer check itself: a tree that keeps the one-way order passes, and each planted
# upward (or sideways) include fails it, naming the file and line. The tree uses the repository's
# own library table (src/Libraries.txt beside the check).
#
#   check-layers-test.sh path/to/check-layers.sh
set -euo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
failures=0

mkdir -p "$tree/src"
cp "$(dirname "$check")/../src/Libraries.txt" "$tree/src/Libraries.txt"

plant() { # file, contents
  mkdir -p "$(dirname "$tree/src/$1")"
  printf '%s\n' "$2" >"$tree/src/$1"
}

# A tree that keeps the order.
plant platform/Stand.h '#pragma once'
plant platform/gfx/View.h '#include "platform/Stand.h"'
plant framework/Core.h '#include "platform/Stand.h"
#include <vector>
#include "Local.h"'
plant dsp/Filter.h '#include "framework/Core.h"'
plant platform/au/CoreFoundation.h '#include "platform/Stand.h"'
plant platform/gfx/xcb/Backend.h '#include "platform/gfx/View.h"'
plant toolkit/Control.h '#include "platform/gfx/View.h"'
plant toolkit/Window.h '#include "toolkit/Control.h"'
plant vst/Adapter.h '#include "framework/Core.h"'
plant vst/editor/Loader.h '#include "vst/Adapter.h"
#include "toolkit/Window.h"
#include "platform/gfx/xcb/Backend.h"'
plant au/Adapter.h '#include "framework/Core.h"
#include "platform/au/CoreFoundation.h"'
plant au/view/View.h '#include "au/Adapter.h"
#include "toolkit/Window.h"'
plant engine/InstrumentPlatform.h '#include "vst/Adapter.h"
#include "au/Adapter.h"'
plant engine/Voice.cpp '#include "dsp/Filter.h"
#include "engine/InstrumentPlatform.h"'
plant editor_art/EditorArt.h '#pragma once'
plant editor/GUI.h '#include "engine/InstrumentPlatform.h"
#include "toolkit/Window.h"
#include "editor_art/EditorArt.h"
#include "platform/gfx/View.h"'
plant plugin/Entry.cpp '#include "editor/GUI.h"
#include "vst/editor/Loader.h"
#include "au/view/View.h"'

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
expect_refused engine/Voice.cpp editor/GUI.h "the engine including the editor"
expect_refused editor/GUI.h plugin/Entry.cpp "the editor including the plug-in"
expect_refused engine/Voice.cpp toolkit/Window.h "the engine including the toolkit"
expect_refused framework/Core.h platform/gfx/View.h "the framework including the view layer"
expect_refused vst/Adapter.h toolkit/Window.h "the VST adapter including the toolkit"
expect_refused editor_art/EditorArt.h editor/GUI.h "the editor's images including the editor"
expect_refused platform/gfx/View.h platform/gfx/xcb/Backend.h "the view layer including its X11 back end"
expect_refused au/Adapter.h au/view/View.h "the Audio Unit adapter including its view"
expect_refused vst/Adapter.h vst/editor/Loader.h "the VST adapter including its editor loader"
expect_refused toolkit/Window.h vst/Adapter.h "the toolkit including the VST adapter"
expect_refused engine/Voice.cpp vst/Adapter.h "an engine file other than InstrumentPlatform.h naming the adapter"

if [ $failures -eq 0 ]; then echo "layer check: ok"; fi
exit $((failures > 0))
