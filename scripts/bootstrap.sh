#!/usr/bin/env bash
# Everything a fresh Debian 12 machine needs, as root: packages, then ACE, log4cplus and FFmpeg
# built for MinGW into a cache outside the checkout (rebuilt only when a recipe changes).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

if [ "$(id -u)" != 0 ]; then
  echo "bootstrap: run as root (it installs Debian packages)" >&2
  exit 1
fi

bash "$here/bootstrap-apt.sh"
for recipe in ace log4cplus ffmpeg; do
  if [ -f "$here/deps/$recipe.sh" ]; then
    bash "$here/deps/$recipe.sh"
  fi
done
