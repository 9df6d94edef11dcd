#!/usr/bin/env bash
# The fresh Wine prefix that the release tests share, with nothing of ours registered in it
# before they run: "new" makes it anew, "end" stops its wineserver. Sourced, the helpers the
# release tests share.
# Usage: release-prefix.sh new|end <wine-run.sh> <prefix>

windows() { printf 'Z:%s' "$(readlink -f "$1" | tr / '\\')"; }
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
# The output of a Windows program, or the lines it must not print.
clean_output() { tr -d '\r' | grep -v '^X connection to'; }
check_quiet() {
  if printf '%s\n' "$1" | grep -q '^ALSA lib'; then fail "ALSA wrote to the terminal"; fi
}
# no_keys_left <wine-run.sh> <CLSID> <LIBID> <ProgID> <versioned ProgID>
no_keys_left() {
  local key
  for key in "HKCR\\CLSID\\{$2}" "HKCR\\TypeLib\\{$3}" "HKCR\\$4" "HKCR\\$5"; do
    if "$1" reg query "$key" >/dev/null 2>&1; then fail "the registry holds $key"; fi
  done
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  action=$1 runner=$2 prefix=$3
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  [ "$action" = end ] && exit 0
  rm -rf "$prefix"
  # Detached from CTest's pipe: the services wineboot starts outlive this test.
  KESTRAVA_WINEPREFIX=$prefix "$runner" wineboot -i </dev/null >/dev/null 2>&1
  KESTRAVA_WINEPREFIX=$prefix "$runner" cmd /c exit </dev/null >/dev/null 2>&1
  if [ ! -d "$prefix/drive_c/windows/system32" ]; then
    echo "no Wine prefix was made in $prefix"
    exit 1
  fi
fi
