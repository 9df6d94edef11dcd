#!/usr/bin/env bash
# Registers the component and runs one script under Wine's cscript. cscript exits 0 and prints
# nothing on an uncaught error, so success needs both exit code 0 and the script's end line.
# Usage: run-script.sh <wine-run.sh> <Kestrava.DLL> <script>
set -u
runner=$1 dll=$2 script=$3
windows() { printf 'Z:%s' "$(readlink -f "$1" | tr / '\\')"; }

"$runner" regsvr32 /s "$(windows "$dll")"
rc=$?
if [ "$rc" != 0 ]; then
  echo "regsvr32 failed with exit code $rc"
  exit 1
fi
output=$("$runner" cscript //nologo "$(windows "$script")" 2>&1)
rc=$?
output=$(printf '%s\n' "$output" | tr -d '\r' | grep -v '^X connection to')
printf '%s\n' "$output"
if ! printf '%s\n' "$output" | grep -qx 'KESTRAVA-SCRIPT-END 0'; then
  echo "the script did not reach its end without failures (exit code $rc)"
  exit 1
fi
exit "$rc"
