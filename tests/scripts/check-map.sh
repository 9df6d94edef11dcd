#!/usr/bin/env bash
# Keeps docs/ARCHITECTURE.md true to the tree: every product source (.cpp outside tests/ and
# bench/) is named in it, and every file its table of files names exists. A name may be a
# pattern (`Module.*`, `deps/*.sh`): it counts for every file it matches.
# Usage: check-map.sh <source folder>
set -u
root=$1
map=$root/docs/ARCHITECTURE.md
failed=0

# The tree's files, relative to the root: what git knows (tracked, or new and not ignored), or
# every file outside build and package folders where there is no git.
if ! files=$(git -C "$root" ls-files --cached --others --exclude-standard 2>/dev/null); then
  files=$(cd "$root" && find . -path ./.git -prune -o -path './build*' -prune -o -path ./dist -prune \
    -o -type f -print | sed 's|^\./||')
fi

# Every `quoted` token of a text that looks like a file name or a pattern of them.
names() {
  grep -o '`[^`]*`' | tr -d '`' | grep -E '^[A-Za-z0-9_*./-]*[A-Za-z0-9_*-]\.[A-Za-z0-9_*]+$' | sort -u
}

# 1. Every product source's file name matches a name in the map.
mapNames=$(names <"$map" | sed 's|.*/||' | sort -u)
while IFS= read -r source; do
  base=${source##*/}
  named=0
  while IFS= read -r name; do
    # shellcheck disable=SC2053 # the name is a pattern
    if [[ $base == $name ]]; then
      named=1
      break
    fi
  done <<<"$mapNames"
  if [ $named = 0 ]; then
    echo "FAIL: $source is not named in docs/ARCHITECTURE.md"
    failed=1
  fi
done < <(grep -E '\.cpp$' <<<"$files" | grep -vE '^(tests|bench)/')

# 2. Every name in the table of files matches a file under its row's folders.
rows=$(sed -n '/^| folder | files and what they hold |/,/^$/p' "$map" | tail -n +3)
[ -n "$rows" ] || {
  echo "FAIL: docs/ARCHITECTURE.md has no table of files"
  exit 1
}
while IFS= read -r row; do
  folders=$(cut -d'|' -f2 <<<"$row" | grep -o '`[^`]*/`' | tr -d '`')
  while IFS= read -r name; do
    found=0
    for folder in $folders; do
      while IFS= read -r file; do
        # shellcheck disable=SC2053 # the name is a pattern
        if [[ $file == $folder$name || $file == $folder*/$name || $file == $name ]]; then
          found=1
          break 2
        fi
      done <<<"$files"
    done
    if [ $found = 0 ]; then
      echo "FAIL: docs/ARCHITECTURE.md names $name under $folders, and no such file exists"
      failed=1
    fi
  done < <(cut -d'|' -f3- <<<"$row" | names)
done <<<"$rows"

# 3. Handles are closed and SRW locks taken only by the owners and guards of platform/win/; a
# handle an owner released may be closed in the open, to check the result.
raw='\b(CloseHandle|RegCloseKey|FreeLibrary|ReleaseDC|(Acquire|Release)SRWLock[A-Za-z]*)\('
while IFS= read -r source; do
  grep -nE "$raw" "$root/$source" | grep -vE 'CloseHandle\([A-Za-z_]+\.release\(\)\)|^[0-9]+: *//' |
    sed "s|^|FAIL: a raw close or lock call outside platform/win/: $source:|" | grep . && failed=1
done < <(grep -E '\.(cpp|h)$' <<<"$files" | grep -vE '^(tests|bench|platform/win)/')

[ $failed = 0 ] && echo "the map names every product source, every file it names exists, and no raw close is left"
exit $failed
