#!/usr/bin/env bash
# Registration-free use in the release tests' fresh prefix: the host finds the component through
# its application manifest, embedded or beside it, with the assembly beside it or in a folder
# named after it, from a single-threaded apartment and from the multithreaded one (its calls
# cross apartments through the marshaller the manifest names); without a manifest the same host
# gets REGDB_E_CLASSNOTREG; and afterwards the registry holds none of the component's keys.
# Usage: registration-free.sh <wine-run.sh> <prefix> <release folder> <host with manifest>
#        <host without> <clip> <assembly> <CLSID> <LIBID> <ProgID> <versioned ProgID>
set -u
runner=$1 prefix=$2 release=$3 embedded=$4 plain=$5 clip=$6 assembly=$7
. "$(dirname "${BASH_SOURCE[0]}")/release-prefix.sh"
export KESTRAVA_WINEPREFIX=$prefix
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# layout <case> <host> <folder of the assembly, relative> [the host's manifest beside it]
layout() {
  local dir=$work/$1
  mkdir -p "$dir/$3"
  cp "$2" "$dir/host.exe"
  cp "$release"/{Kestrava.DLL,PlayCtrl.dll,QorLog.dll,CommonModule.dll,"$assembly.manifest"} "$dir/$3"
  if [ -n "${4:-}" ]; then cp "$release/examples/play.manifest" "$dir/host.exe.manifest"; fi
}
layout embedded "$embedded" .
layout beside "$plain" . beside
layout subfolder "$embedded" "$assembly"
layout mta "$embedded" .
layout none "$plain" .
rm "$work/none/$assembly.manifest"

for case in embedded beside subfolder mta none; do
  # Started from its own folder, as a user starts it.
  apartment=()
  [ "$case" = mta ] && apartment=(mta)
  out=$(cd "$work/$case" && "$runner" host.exe "$(windows "$clip")" "${apartment[@]}" 2>&1 |
    clean_output)
  echo "-- assembly $case:"
  echo "$out"
  check_quiet "$out"
  if [ "$case" = none ]; then
    echo "$out" | grep -q '^FAIL: CoCreateInstance returned 0x80040154' ||
      fail "without a manifest the host did not get REGDB_E_CLASSNOTREG"
  elif ! echo "$out" | grep -qx 'KESTRAVA-SCRIPT-END 0'; then
    fail "the host with the assembly $case failed"
  fi
  if [ "$case" = mta ]; then
    # Wine's automation marshaller registers the type library it loads for the calls across
    # apartments (its LoadTypeLib does), library and interface keys; Windows' does not. Our
    # unregistration removes them, so that the check below sees what the component wrote.
    "$runner" reg query "HKCR\\TypeLib\\{$9}" >/dev/null 2>&1 &&
      echo "(Wine's marshaller registered the type library itself: removed)"
    "$runner" regsvr32 /s /u "$(windows "$work/mta/Kestrava.DLL")"
  fi
done
no_keys_left "$runner" "${@:8}"
[ "$failed" = 0 ] && echo "registration-free use: ok"
exit "$failed"
