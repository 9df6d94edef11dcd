#!/usr/bin/env bash
# Everything a fresh Debian 12 machine needs: packages, then ACE, log4cplus and FFmpeg built
# for MinGW, 32- and 64-bit, into a cache outside the checkout (rebuilt only when a recipe changes). Root is
# needed only while something is missing: on a ready machine any user rebuilds.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
recipes=(ace log4cplus ffmpeg)
archs=(32 64)

packages_ready=1
bash "$here/bootstrap-apt.sh" --check || packages_ready=0
missing=()
for arch in "${archs[@]}"; do
  for recipe in "${recipes[@]}"; do
    [ -f "$(KESTRAVA_ARCH=$arch bash "$here/deps/$recipe.sh" --prefix)/.complete" ] ||
      missing+=("$recipe/$arch-bit")
  done
done
[ "$packages_ready" = 1 ] && [ ${#missing[@]} = 0 ] && exit 0

if [ "$(id -u)" != 0 ]; then
  deps_root="${KESTRAVA_DEPS_ROOT:-/var/cache/kestrava-deps}"
  if [ "$packages_ready" = 0 ]; then
    echo "bootstrap: Debian packages are missing: run this command once as root." >&2
    exit 1
  fi
  if ! mkdir -p "$deps_root" 2>/dev/null || [ ! -w "$deps_root" ]; then
    echo "bootstrap: ${missing[*]} not built yet and $deps_root is not writable: run this" >&2
    echo "           command once as root, or set KESTRAVA_DEPS_ROOT to a folder of your own." >&2
    exit 1
  fi
else
  bash "$here/bootstrap-apt.sh"
fi
for arch in "${archs[@]}"; do
  for recipe in "${recipes[@]}"; do
    KESTRAVA_ARCH=$arch bash "$here/deps/$recipe.sh"
  done
done
