#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent: does nothing when everything is already there.
# Usage: bootstrap-apt.sh [--check]   (--check: exit 1 when something is missing, change nothing)
set -euo pipefail
check_only=0
[ "${1:-}" = --check ] && check_only=1

packages=(
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-tools
  binutils-mingw-w64-i686 libwine-dev wine wine32:i386 xvfb xauth
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
  cmake ninja-build ffmpeg googletest nasm dpkg-dev pkg-config
  clang-format python3 zip unzip
  clang libclang-rt-14-dev lld llvm
  pulseaudio pulseaudio-utils libpulse0:i386 libasound2-plugins:i386 sox
)

need_install=0
need_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_i386=1
  need_install=1
fi

# Source packages for the libraries we build ourselves for MinGW.
add_deb_src() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    case "$f" in *kestrava-src.sources) continue ;; esac
    if grep -q '^Types:.*\bdeb\b' "$f" && ! grep -q '^Types:.*deb-src' "$f"; then
      sed -e 's/^Types:.*/Types: deb-src/' "$f" >>/etc/apt/sources.list.d/kestrava-src.sources.new
      echo >>/etc/apt/sources.list.d/kestrava-src.sources.new
    fi
  done
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' \
      >/etc/apt/sources.list.d/kestrava-src.list || true
  fi
  if [ -f /etc/apt/sources.list.d/kestrava-src.sources.new ]; then
    mv /etc/apt/sources.list.d/kestrava-src.sources.new /etc/apt/sources.list.d/kestrava-src.sources
  fi
}
need_deb_src=0
if [ ! -e /etc/apt/sources.list.d/kestrava-src.sources ] && [ ! -s /etc/apt/sources.list.d/kestrava-src.list ]; then
  need_deb_src=1
  need_install=1
fi

for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    need_install=1
    break
  fi
done

if [ "$check_only" = 1 ]; then
  exit "$need_install"
fi
if [ "$need_i386" = 1 ]; then
  dpkg --add-architecture i386
fi
if [ "$need_deb_src" = 1 ]; then
  add_deb_src
fi
if [ "$need_install" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${packages[@]}"
fi
