#!/usr/bin/env bash
# Fails on an include that goes from a lower library to a higher one. The libraries under src/
# depend one way:
#
#   platform <- framework <- dsp, toolkit <- vst, au <- engine <- editor <- plugin
#
# (src/platform/gfx belongs to platform). A library may include its own headers and those of
# every library left of it, never one of its own rank or to the right. In the engine only
# engine/InstrumentPlatform.h names an adapter (vst/ or au/). Libraries that do not exist yet
# are simply absent.
#
#   tools/check-layers.sh [root]    root holds src/ (default: this repository)
set -euo pipefail
root=${1:-"$(cd "$(dirname "$0")/.." && pwd)"}
[ -d "$root/src" ] || { echo "no src/ below $root" >&2; exit 2; }

rank_of() {
  case "$1" in
    platform) echo 0 ;;
    framework) echo 1 ;;
    dsp | toolkit) echo 2 ;;
    vst | au) echo 3 ;;
    engine) echo 4 ;;
    editor) echo 5 ;;
    plugin) echo 6 ;;
    *) echo -1 ;;
  esac
}

status=0
checked=0
while IFS= read -r -d '' file; do
  rel=${file#"$root/src/"}
  lib=${rel%%/*}
  from=$(rank_of "$lib")
  [ "$from" -ge 0 ] || continue
  checked=$((checked + 1))
  while IFS=: read -r line target; do
    dep=${target%%/*}
    [ "$dep" != "$target" ] || continue # a header beside the file
    to=$(rank_of "$dep")
    [ "$to" -ge 0 ] || continue # not one of ours (e.g. a third-party folder)
    [ "$dep" = "$lib" ] && continue
    if [ "$to" -ge "$from" ]; then
      echo "src/$rel:$line: $lib includes \"$target\" from $dep, which is not below it" >&2
      status=1
    elif [ "$lib" = engine ] && { [ "$dep" = vst ] || [ "$dep" = au ]; } && [ "$rel" != engine/InstrumentPlatform.h ]; then
      echo "src/$rel:$line: only engine/InstrumentPlatform.h names an adapter (\"$target\")" >&2
      status=1
    fi
  done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
             sed -E 's/^([0-9]+):[^"]*"([^"]*)".*/\1:\2/' || true)
done < <(find "$root/src" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.mm' \) -print0)

[ $status -eq 0 ] && echo "layers: $checked files ok"
exit $status
