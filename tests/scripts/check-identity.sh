#!/usr/bin/env bash
# The build's identity check passes the sources as they are and stops at each kind of drift: a
# CLSID, LIBID, library version or interface IID in the IDL, an interface more, a GUID or a
# ProgID in the registry script.
# Usage: check-identity.sh <source folder>
set -u
source=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
# check <expected: pass|stop> <what> [sed script for the IDL] [sed script for the script]
check() {
  sed -e "${3:-}" "$source/server/Kestrava.idl" >"$work/Kestrava.idl"
  sed -e "${4:-}" "$source/server/Kestrava.rgs" >"$work/Kestrava.rgs"
  if cmake -DIDL="$work/Kestrava.idl" -DRGS="$work/Kestrava.rgs" -DSTAMP="$work/stamp" \
    -P "$source/cmake/CheckIdentity.cmake" >"$work/out" 2>&1; then
    result=pass
  else
    result=stop
  fi
  if [ "$result" != "$1" ]; then
    echo "FAIL: $2: the check should $1, it did not"
    cat "$work/out"
    failed=1
  fi
}
check pass "the sources as they are"
check stop "another CLSID in the IDL" 's/5428B9E4-1807/5428B9E4-1808/'
check stop "another LIBID in the IDL" 's/AE8D5F57-91E0/AE8D5F57-91E1/'
check stop "another library version in the IDL" 's/version(1\.0)/version(1.1)/'
check stop "another IID in the IDL" 's/uuid(025E7014-1CC7/uuid(025E7014-1CC8/'
check stop "an eighth interface in the IDL" 's/^interface IConvert : IDispatch$/interface IConvert2 : IDispatch {};\n[object, uuid(9A39DB16-CC3F-4E51-BE8F-35A92E8668D1), dual]\ninterface IConvert : IDispatch/'
check stop "another CLSID in one entry of the script" "" '0,/{5428B9E4/s//{6428B9E4/'
check stop "another LIBID in the script" "" 's/{AE8D5F57/{BE8D5F57/'
check stop "another ProgID in the script" "" 's/CurVer = s .Kestrava.KestravaCOM.1./CurVer = s '"'"'Kestrava.Player.1'"'"'/'
[ "$failed" = 0 ] && echo "the identity check: ok"
exit "$failed"
