#!/usr/bin/env bash
# Fails on an include that a library's link order does not allow. src/Libraries.txt names each
# library under src/, its folder and the libraries it links; CMake builds them by the same table.
# The libraries depend one way:
#
#   platform <- framework <- dsp, toolkit <- vst, au <- engine <- editor <- plugin
#
# A source belongs to the library of the deepest folder that holds it (src/platform/gfx/View.h to
# platform_gfx, src/platform/au/ to platform). It may include the headers of its own library and
# of every library that library links, directly or through others; never one of a library it does
# not link. Where two libraries share a folder (the engine and the editor built twice), a source
# may include what either links. In the engine only engine/InstrumentPlatform.h names an adapter
# (vst/ or au/). Sources of folders that are no library's are not checked.
#
#   tools/check-layers.sh [root]    root holds src/ and src/Libraries.txt (default: this repository)
set -euo pipefail
root=${1:-"$(cd "$(dirname "$0")/.." && pwd)"}
[ -d "$root/src" ] || { echo "no src/ below $root" >&2; exit 2; }
table="$root/src/Libraries.txt"
[ -f "$table" ] || { echo "no library table $table" >&2; exit 2; }

declare -A folder_of links_of
names=()
while read -r name folder rest; do
  case "$name" in '' | '#'*) continue ;; esac
  folder_of[$name]=$folder
  links=" "
  for l in $rest; do [ "$l" = - ] || links+="$l "; done
  links_of[$name]=$links
  names+=("$name")
done <"$table"

# Every library a library reaches through its links (itself included), as " a b c ".
declare -A reach_of
for name in "${names[@]}"; do
  reach=" $name "
  todo=(${links_of[$name]})
  while [ ${#todo[@]} -gt 0 ]; do
    next=${todo[0]}
    todo=("${todo[@]:1}")
    [[ "$reach" == *" $next "* ]] && continue
    [ -n "${folder_of[$next]+set}" ] || { echo "$table: $name links $next, which is not in the table" >&2; exit 2; }
    reach+="$next "
    todo+=(${links_of[$next]})
  done
  reach_of[$name]=$reach
done

# The libraries of the deepest table folder that holds a path below src/, as "a b"; empty when
# none does. Cached by folder.
declare -A owners_cache
owners_of() { # path below src/ (a file or a folder)
  local dir=${1%/*} best="" best_len=-1 name f
  [ "$dir" != "$1" ] || dir=""
  if [ -n "${owners_cache[$dir]+set}" ]; then
    owners=${owners_cache[$dir]}
    return
  fi
  for name in "${names[@]}"; do
    f=${folder_of[$name]}
    if [ "$dir" = "$f" ] || [[ "$dir" == "$f/"* ]]; then
      if [ ${#f} -gt $best_len ]; then
        best="$name"
        best_len=${#f}
      elif [ ${#f} -eq $best_len ]; then
        best+=" $name"
      fi
    fi
  done
  owners_cache[$dir]=$best
  owners=$best
}

status=0
checked=0
while IFS= read -r -d '' file; do
  rel=${file#"$root/src/"}
  owners_of "$rel"
  [ -n "$owners" ] || continue
  from=$owners
  allowed=" "
  for o in $from; do allowed+="${reach_of[$o]# } "; done
  home=${folder_of[${from%% *}]}
  checked=$((checked + 1))
  while IFS=: read -r line target; do
    [ "${target%%/*}" != "$target" ] || continue # a header beside the file
    owners_of "$target"
    [ -n "$owners" ] || continue # not one of ours (e.g. a third-party folder)
    to=$owners
    ok=0
    for t in $to; do [[ "$allowed" == *" $t "* ]] && ok=1; done
    if [ $ok -eq 0 ]; then
      echo "src/$rel:$line: ${from// //} includes \"$target\" of ${to// //}, which it does not link" >&2
      status=1
    elif [ "$home" = engine ] && [ "${folder_of[${to%% *}]}" != engine ] &&
      { [[ "$target" == vst/* ]] || [[ "$target" == au/* ]]; } && [ "$rel" != engine/InstrumentPlatform.h ]; then
      echo "src/$rel:$line: only engine/InstrumentPlatform.h names an adapter (\"$target\")" >&2
      status=1
    fi
  done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
             sed -E 's/^([0-9]+):[^"]*"([^"]*)".*/\1:\2/' || true)
done < <(find "$root/src" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.mm' \) -print0 | sort -z)

[ $status -eq 0 ] && echo "layers: $checked files ok"
exit $status
