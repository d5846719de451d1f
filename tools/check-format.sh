#!/usr/bin/env bash
# Fails when a C++ source under version control differs from what the repository's
# .clang-format makes of it (clang-format 14, installed by tools/install-deps.sh), and lists
# the files. `tools/check-format.sh --fix` formats them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."
formatter=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$formatter" ]; then
  echo "clang-format not installed (tools/install-deps.sh installs it)" >&2
  exit 1
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  "$formatter" -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  "$formatter" --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "Not formatted with .clang-format ($("$formatter" --version | head -n 1)):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  echo "Run tools/check-format.sh --fix" >&2
  exit 1
fi
echo "format: ${#files[@]} files ok"
