#!/usr/bin/env bash
# Both architectures registered in one win64 prefix: a host of each bitness creates the class by
# ProgID, plays a clip to its end counting its frames in the analysis function and saves a JPEG;
# each cscript runs the late-binding example. Unregistering either architecture first leaves the
# other working, for hosts in a multithreaded apartment too (their calls need the interfaces'
# keys, which both share), and the first one's hosts get REGDB_E_CLASSNOTREG; unregistering the
# other then leaves no key of ours in either registry view, even when the first one's DLL was
# deleted without unregistering.
# Usage: side-by-side.sh <64-bit wine-run.sh> <64-bit bin> <32-bit bin> <clip> <examples folder>
set -u
run=$1 bin64=$2 bin32=$3 clip=$4 examples=$5
windows() { printf 'Z:%s' "$(readlink -f "$1" | tr / '\\')"; }
wow='C:\windows\syswow64'
typelib='HKCR\TypeLib\{AE8D5F57-91E0-4FB2-8FF8-E967A158A807}\1.0\0'
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
bin() { if [ "$1" = 32 ]; then echo "$bin32"; else echo "$bin64"; fi; }
tool() { if [ "$1" = 32 ]; then echo "$wow\\$2.exe"; else echo "$2"; fi; }

# regsvr32 of the architecture's own bitness; further arguments go before the path (/u).
register() {
  local arch=$1
  shift
  "$run" "$(tool "$arch" regsvr32)" /s "$@" "$(windows "$(bin "$arch")/Kestrava.DLL")"
  local rc=$?
  [ "$rc" = 0 ] || fail "regsvr32 $* of the $arch-bit DLL exited $rc"
}

# The C++ example of that bitness: "works", or "unregistered" (REGDB_E_CLASSNOTREG).
host() {
  local arch=$1 expect=$2 jpeg="$work/last$1.jpg" out frames seen
  rm -f "$jpeg"
  out=$("$run" "$(windows "$(bin "$arch")/play.exe")" "$(windows "$clip")" "$(windows "$jpeg")" \
    2>&1 | tr -d '\r')
  echo "-- $arch-bit host, expected to be $expect:"
  echo "$out"
  if [ "$expect" = unregistered ]; then
    echo "$out" | grep -q '^FAIL: CoCreateInstance returned 0x80040154' ||
      fail "the $arch-bit host did not get REGDB_E_CLASSNOTREG"
    return
  fi
  echo "$out" | grep -qx 'KESTRAVA-SCRIPT-END 0' || fail "the $arch-bit host failed"
  frames=$(echo "$out" | sed -n 's/.*: [0-9]* s, \([0-9]*\) frames, .*/\1/p')
  seen=$(echo "$out" | sed -n 's/^frames seen by the analysis function: //p')
  # The engine skips frames that are late, so the count may fall short of the clip's.
  [ -n "$frames" ] && [ "${seen:-0}" -gt 0 ] && [ "$seen" -le "$frames" ] ||
    fail "the $arch-bit host's analysis function saw ${seen:-no} of ${frames:-?} frames"
  [ "$(head -c 2 "$jpeg" 2>/dev/null | od -An -tx1 | tr -d ' \n')" = ffd8 ] ||
    fail "the $arch-bit host saved no JPEG"
}

# The COM tests' host of that bitness, creating the class as registered from a multithreaded
# apartment: all seven interfaces and one late-bound call.
mta() {
  local out
  out=$(KESTRAVA_AS_REGISTERED=1 "$run" "$(windows "$(bin "$1")/doubles/com_dispatch.exe")" \
    --gtest_filter='CrossApartment.*' 2>&1 | tr -d '\r')
  if echo "$out" | grep -q '^\[  PASSED  \] 1 test'; then
    echo "-- $1-bit host in a multithreaded apartment: ok"
  else
    echo "$out"
    fail "the $1-bit host in a multithreaded apartment failed"
  fi
}

# Our keys that the registry view of that bitness holds, one a line.
guids='5428B9E4-1807-4443-B436-6D1C33BDEB62|AE8D5F57-91E0-4FB2-8FF8-E967A158A807'
guids+='|0D0C5ED7-625C-46DD-8E2C-24ED955103D0|402B3633-3638-4968-8AE2-98B4218709A0'
guids+='|DF272E0B-30D8-4074-854B-0F8F82B94B53|025E7014-1CC7-42E9-9F66-65F4387D5086'
guids+='|9A39DB16-CC3F-4E51-BE8F-35A92E8668D0|8ED2912B-8343-458F-878E-F39F180EBD5D'
guids+='|E016061C-D38F-4533-8DA8-50C70DCBAD5F'
ours() {
  local collection
  for collection in 'HKCR' 'HKCR\CLSID' 'HKCR\Interface' 'HKCR\TypeLib'; do
    "$run" "$(tool "$1" reg)" query "$collection" 2>/dev/null | tr -d '\r' |
      grep -iE "\\\\(Kestrava\.KestravaCOM(\.1)?|\{($guids)\})\$"
  done
}

# The late-binding example under the cscript of that bitness.
script() {
  local out
  out=$("$run" "$(tool "$1" cscript)" //nologo "$(windows "$examples/play.vbs")" \
    "$(windows "$clip")" 2>&1 | tr -d '\r')
  echo "-- $1-bit cscript:"
  echo "$out"
  echo "$out" | grep -qx 'KESTRAVA-SCRIPT-END 0' || fail "the $1-bit cscript failed"
}

register 64
register 32
for platform in win32 win64; do
  "$run" reg query "$typelib\\$platform" >/dev/null 2>&1 ||
    fail "the type library has no $platform subkey"
done
host 64 works
host 32 works
script 64
script 32

# Either architecture unregistered first, then the other: the second round registers both again.
for gone in 32 64; do
  kept=64
  [ "$gone" = 32 ] || kept=32
  if [ "$gone" = 64 ]; then
    register 64
    register 32
  fi
  register "$gone" /u
  "$run" reg query "$typelib\\win$gone" >/dev/null 2>&1 &&
    fail "the type library's win$gone subkey remains"
  "$run" reg query "$typelib\\win$kept" >/dev/null 2>&1 ||
    fail "the type library's win$kept subkey went with the $gone-bit DLL"
  for view in 32 64; do
    [ "$(ours "$view" | grep -ci '\\Interface\\')" = 7 ] ||
      fail "the $view-bit view lacks interface keys after unregistering the $gone-bit DLL"
  done
  ours "$gone" | grep -qi '\\CLSID\\' && fail "the $gone-bit class key remains"
  host "$kept" works
  mta "$kept"
  host "$gone" unregistered

  register "$kept" /u
  for view in 32 64; do
    left=$(ours "$view")
    [ -z "$left" ] || fail "after unregistering $gone-bit then $kept-bit, the $view-bit view keeps:
$left"
  done
done

# A 32-bit DLL deleted without unregistering leaves a stale class key: the 64-bit one, unregistered
# last, still cleans up everything, the seven interfaces' keys in both views included.
stale=$work/stale32
mkdir -p "$stale"
cp "$bin32"/{Kestrava.DLL,PlayCtrl.dll,QorLog.dll,CommonModule.dll} "$stale/"
register 64
"$run" "$(tool 32 regsvr32)" /s "$(windows "$stale/Kestrava.DLL")" || fail "regsvr32 of the copy failed"
rm "$stale/Kestrava.DLL"
register 64 /u
for view in 32 64; do
  left=$(ours "$view")
  [ -z "$left" ] || fail "with the 32-bit DLL deleted, unregistering the 64-bit one leaves in the $view-bit view:
$left"
done

[ "$failed" = 0 ] && echo "both architectures side by side: ok"
exit "$failed"
