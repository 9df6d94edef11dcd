#!/usr/bin/env bash
# Registers the component and runs one client under Wine: a script under cscript, or a program.
# cscript exits 0 and prints nothing on an uncaught error, so success needs both exit code 0 and
# the client's end line. Further arguments are files, handed over as Windows paths.
# Usage: run-script.sh <wine-run.sh> <Kestrava.DLL> <script or .exe> [file...]
set -u
runner=$1 dll=$2 client=$3
shift 3
windows() { printf 'Z:%s' "$(readlink -f "$1" | tr / '\\')"; }
files=()
for file in "$@"; do
  files+=("$(windows "$file")")
done

"$runner" regsvr32 /s "$(windows "$dll")"
rc=$?
if [ "$rc" != 0 ]; then
  echo "regsvr32 failed with exit code $rc"
  exit 1
fi
case "$client" in
  *.exe) output=$("$runner" "$(windows "$client")" "${files[@]}" 2>&1) ;;
  *) output=$("$runner" cscript //nologo "$(windows "$client")" "${files[@]}" 2>&1) ;;
esac
rc=$?
output=$(printf '%s\n' "$output" | tr -d '\r' | grep -v '^X connection to')
printf '%s\n' "$output"
if ! printf '%s\n' "$output" | grep -qx 'KESTRAVA-SCRIPT-END 0'; then
  echo "the client did not reach its end without failures (exit code $rc)"
  exit 1
fi
exit "$rc"
