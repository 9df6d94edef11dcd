#!/usr/bin/env bash
# Both architectures registered in one win64 prefix: a host of each bitness creates the class by
# ProgID, plays a clip to its end counting its frames in the analysis function and saves a JPEG;
# each cscript runs the late-binding example; unregistering one architecture leaves the other
# working and the first one's hosts get REGDB_E_CLASSNOTREG.
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

register 32 /u
host 64 works
host 32 unregistered

register 32
register 64 /u
host 32 works
host 64 unregistered
register 32 /u

[ "$failed" = 0 ] && echo "both architectures side by side: ok"
exit "$failed"
