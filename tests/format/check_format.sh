#!/usr/bin/env bash
# Every C++ file of the tree must be as clang-format leaves it (.clang-format
# at the top). Prints the files that are not, and how to fix them.
set -euo pipefail
cd "$1"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find src emulator tests bench -name '*.cpp' -o -name '*.h')
fi
bad=()
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'not clang-formatted: %s\n' "${bad[@]}"
  echo "fix with: clang-format -i ${bad[*]}"
  exit 1
fi
echo "${#files[@]} files clang-formatted"
