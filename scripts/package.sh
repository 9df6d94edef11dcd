#!/usr/bin/env bash
# Makes the release packages from built trees: dist/kestrava-<version>-win32.zip and -win64.zip
# at the top of the checkout, each the build's release folder with the SHA-256 sums of its files.
# Usage: scripts/package.sh [BUILD_DIR...]   (default: build and build64)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ $# -gt 0 ] || set -- "$top/build" "$top/build64"
mkdir -p "$top/dist"
for build in "$@"; do
  folder=$(ls -td "$build"/release/kestrava-*-win* 2>/dev/null | head -n 1)
  if [ -z "$folder" ] || [ ! -f "$folder/Kestrava.DLL" ]; then
    echo "package.sh: $build holds no built release folder (scripts/build.sh first)" >&2
    exit 1
  fi
  name=$(basename "$folder")
  sums=$(mktemp)
  (cd "$folder" && rm -f SHA256SUMS.txt && find . -type f -printf '%P\n' | LC_ALL=C sort |
    xargs sha256sum >"$sums")
  install -m 644 "$sums" "$folder/SHA256SUMS.txt"
  rm -f "$sums"
  rm -f "$top/dist/$name.zip"
  (cd "$folder/.." && zip -qrX "$top/dist/$name.zip" "$name")
  echo "$top/dist/$name.zip: $(du -k "$top/dist/$name.zip" | cut -f1) KB"
done
