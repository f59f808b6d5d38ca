#!/usr/bin/env bash
# Every C++ source follows .clang-format; prints the first differences.
set -u
root=${1:?source folder}
cd "$root" || exit 2
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h' | while read -r f; do [ -f "$f" ] && echo "$f"; done)
else
  mapfile -t files < <(find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
fi
if out=$(clang-format --dry-run --Werror "${files[@]}" 2>&1); then
  echo "format: ${#files[@]} files follow .clang-format"
  exit 0
fi
head -n 40 <<<"$out"
echo "format: run clang-format -i on the files above"
exit 1
