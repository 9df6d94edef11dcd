#!/usr/bin/env bash
# Runs the README's build line of the C++ example as written (from the top of a checkout whose
# build folder is `build`) and checks that the program imports no MinGW runtime DLL.
# Usage: check-build-line.sh <source folder> <build folder>
set -euo pipefail
source=$1 build=$2
line=$(grep -E '^ *i686-w64-mingw32-g\+\+-posix .*examples/play\.cpp' "$source/README.md" || true)
if [ -z "$line" ]; then
  echo "README.md has no build line for examples/play.cpp"
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s "$source/examples" "$work/examples"
ln -s "$build" "$work/build"
echo "$line"
(cd "$work" && eval "$line")
imports=$(i686-w64-mingw32-objdump -p "$work/play.exe" | sed -n 's/^\s*DLL Name: //p')
printf 'imports: %s\n' $imports
if printf '%s\n' "$imports" | grep -Eiq '^(libstdc\+\+|libgcc|libwinpthread)'; then
  echo "play.exe needs a MinGW runtime DLL"
  exit 1
fi
