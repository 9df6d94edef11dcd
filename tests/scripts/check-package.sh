#!/usr/bin/env bash
# The release package of this build as a user gets it, in the release tests' fresh prefix: its
# files are the ones its README.txt lists, their checksums hold, the shipped play.exe plays
# where it is unpacked and beside the component with nothing registered, the engine's import
# library links a host, and the VBScript example plays once Kestrava.DLL is registered (and
# unregistered again afterwards).
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

# The shipped play.exe where it is unpacked, and beside the component, nothing registered.
for where in examples .; do
  [ "$where" = . ] && cp "$unpacked/examples/play.exe" "$unpacked/"
  rm -f "$prefix/drive_c/last.jpg"
  out=$(cd "$unpacked/$where" && "$runner" play.exe "$(windows "$clip")" 'C:\last.jpg' 2>&1 |
    clean_output)
  echo "-- play.exe in $where:"
  echo "$out"
  check_quiet "$out"
  echo "$out" | grep -qx 'KESTRAVA-SCRIPT-END 0' || fail "the shipped play.exe failed in $where"
  [ "$(head -c 2 "$prefix/drive_c/last.jpg" 2>/dev/null | od -An -tx1 | tr -d ' \n')" = ffd8 ] ||
    fail "the shipped play.exe saved no JPEG in $where"
done
rm "$unpacked/play.exe"

# The engine's import library names every export of the .def; a host linked against it by
# lld-link (as MSVC's link would, with safe exception handlers in 32-bit) imports PlayCtrl.dll's
# plain names and runs.
triple=x86_64-w64-mingw32 underscore=
case $name in *-win32) triple=i686-w64-mingw32 underscore=_ ;; esac
exports=$(sed -n 's/^ *\(PlayM4_[A-Za-z0-9@]*\).*/__imp_'"$underscore"'\1/p' "$unpacked/lib/PlayCtrl.def" |
  sort)
imported=$("$triple-nm" "$unpacked/lib/PlayCtrl.lib" | sed -n 's/^.* \(__imp_[^ ]*PlayM4_.*\)$/\1/p' |
  sort -u)
[ "$(echo "$exports" | wc -l)" -ge 30 ] && [ "$exports" = "$imported" ] ||
  fail "lib/PlayCtrl.lib does not import every export of lib/PlayCtrl.def"
if command -v lld-link >/dev/null && command -v clang >/dev/null; then
  target=x86_64-pc-windows-msvc machine=x64
  case $triple in i686*) target=i686-pc-windows-msvc machine=x86 ;; esac
  link=$(mktemp -d)
  printf '%s\n' '__declspec(dllimport) int __stdcall PlayM4_GetPort(long *port);' \
    '__declspec(dllimport) int __stdcall PlayM4_FreePort(long port);' \
    'int __stdcall start(void) {' '  long port = -1;' \
    '  return PlayM4_GetPort(&port) && PlayM4_FreePort(port) ? 42 : 1;' '}' >"$link/host.c"
  clang --target=$target -c -O1 "$link/host.c" -o "$link/host.obj" &&
    lld-link /nologo /entry:start /subsystem:console /nodefaultlib /machine:$machine \
      "$link/host.obj" "$unpacked/lib/PlayCtrl.lib" /out:"$unpacked/linked.exe" ||
    fail "lld-link could not link a host against lib/PlayCtrl.lib"
  "$triple-objdump" -p "$unpacked/linked.exe" | tr -s ' \t' ' ' | grep -q ' 0 PlayM4_GetPort$' ||
    fail "the host linked by lld-link does not import PlayM4_GetPort by its plain name"
  (cd "$unpacked" && "$runner" linked.exe >/dev/null 2>&1)
  rc=$?
  [ "$rc" = 42 ] || fail "the host linked by lld-link exited $rc, not 42"
  rm -rf "$link" "$unpacked/linked.exe"
else
  echo "lld-link or clang is missing: the import library is checked with nm alone"
fi

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
