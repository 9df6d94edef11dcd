#!/usr/bin/env bash
# The release package of this build as a user gets it, in the release tests' fresh prefix: its
# files are the ones its README.txt lists, their checksums hold, the shipped play.exe plays
# through the assembly manifest alone, and the VBScript example plays once Kestrava.DLL is
# registered (and unregistered again afterwards).
# Usage: check-package.sh <wine-run.sh> <prefix> <checkout> <build> <release folder> <clip>
#        <CLSID> <LIBID> <ProgID> <versioned ProgID>
set -u
runner=$1 prefix=$2 top=$3 build=$4 release=$5 clip=$6
. "$(dirname "${BASH_SOURCE[0]}")/release-prefix.sh"
export KESTRAVA_WINEPREFIX=$prefix
name=$(basename "$release")
zip=$top/dist/$name.zip
# The test command packages before it tests; a run of CTest alone packages here.
if [ ! "$zip" -nt "$release/Kestrava.DLL" ]; then
  bash "$top/scripts/package.sh" "$build" || exit 1
fi
ls -l "$zip"

unpacked=$prefix/drive_c/$name
rm -rf "$unpacked"
unzip -q "$zip" -d "$prefix/drive_c" || fail "unzip failed"
listed=$(sed -n '/^Files$/,/^Using it/s/^    \([^ ]*\) .*/\1/p' "$unpacked/README.txt" | sort)
held=$(unzip -Z1 "$zip" | grep -v '/$' | sed "s|^$name/||" | sort)
if [ -z "$listed" ] || [ "$listed" != "$held" ]; then
  fail "the package's files differ from README.txt's list:"
  diff <(echo "$listed") <(echo "$held")
fi
(cd "$unpacked" && sha256sum --quiet -c SHA256SUMS.txt) || fail "checksums do not hold"

# The shipped play.exe beside the component, nothing registered.
cp "$unpacked/examples/play.exe" "$unpacked/"
out=$(cd "$unpacked" && "$runner" play.exe "$(windows "$clip")" 'C:\last.jpg' 2>&1 | clean_output)
echo "-- play.exe through the manifest:"
echo "$out"
check_quiet "$out"
echo "$out" | grep -qx 'KESTRAVA-SCRIPT-END 0' || fail "the shipped play.exe failed"
[ "$(head -c 2 "$prefix/drive_c/last.jpg" 2>/dev/null | od -An -tx1 | tr -d ' \n')" = ffd8 ] ||
  fail "the shipped play.exe saved no JPEG"
rm "$unpacked/play.exe"

dll="C:\\$name\\Kestrava.DLL"
"$runner" regsvr32 /s "$dll" || fail "regsvr32 of the package's Kestrava.DLL failed"
out=$("$runner" cscript //nologo "C:\\$name\\examples\\play.vbs" "$(windows "$clip")" 2>&1 |
  clean_output)
echo "-- play.vbs through registration:"
echo "$out"
check_quiet "$out"
echo "$out" | grep -qx 'KESTRAVA-SCRIPT-END 0' || fail "play.vbs failed"
"$runner" regsvr32 /s /u "$dll" || fail "regsvr32 /u failed"
no_keys_left "$runner" "${@:7}"
[ "$failed" = 0 ] && echo "the package $name: ok"
exit "$failed"
