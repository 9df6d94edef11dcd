#!/usr/bin/env bash
# Runs the README's build line of the C++ example for this architecture as written (from the top
# of a checkout whose build folders are `build` and `build64`) and checks that the program
# imports no MinGW runtime DLL.
# Usage: check-build-line.sh <source folder> <build folder> <MinGW triple>
set -euo pipefail
source=$1 build=$2 triple=$3
line=$(grep -E "^ *$triple-g\+\+-posix .*examples/play\.cpp" "$source/README.md" || true)
if [ -z "$line" ]; then
  echo "README.md has no $triple build line for examples/play.cpp"
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s "$source/examples" "$work/examples"
ln -s "$build" "$work/build"
ln -s "$build" "$work/build64"
echo "$line"
(cd "$work" && eval "$line")
imports=$("$triple-objdump" -p "$work/play.exe" | sed -n 's/^\s*DLL Name: //p')
printf 'imports: %s\n' $imports
if printf '%s\n' "$imports" | grep -Eiq '^(libstdc\+\+|libgcc|libwinpthread)'; then
  echo "play.exe needs a MinGW runtime DLL"
  exit 1
fi
