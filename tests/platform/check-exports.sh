#!/usr/bin/env bash
# Each closed library exports exactly its contract; Kestrava.DLL exactly its four entry points.
set -u
bin=$1 def=$2 triple=${3:-i686-w64-mingw32}
objdump=$triple-objdump
failed=0

exports() { "$objdump" -p "$1" | awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^\t\[/ {print $NF} on && /^$/ {on=0}' | sort; }

expect() {
  local dll=$1 want=$2 have
  if [ ! -f "$bin/$dll" ]; then
    echo "SKIP $dll (not built)"
    return
  fi
  have=$(exports "$bin/$dll")
  if [ "$have" != "$want" ]; then
    echo "FAIL $dll exports differ:"
    diff <(echo "$want") <(echo "$have")
    failed=1
  else
    echo "ok   $dll"
  fi
}

expect CommonModule.dll "$(printf '%s\n' _ZN5CDataC1EPKc _ZN5CDataC1ERKS_ _ZN5CDataC1Ev \
  _ZN5CDataC2EPKc _ZN5CDataC2ERKS_ _ZN5CDataC2Ev _ZN5CDataD1Ev _ZN5CDataD2Ev _ZN5CDataaSEPKc \
  _ZN5CDataaSERKS_ _ZN5CDatapLEPKc _ZNK5CData5c_strEv | sort)"
expect QorLog.dll "$(printf '%s\n' _ZN14CQorLogManager4InitEPKc _ZN7CQorLog3LogENS_9LOG_LEVELEPKcS2_i \
  _ZN7CQorLog8GetLevelEv | sort)"
expect PlayCtrl.dll "$(grep -o 'PlayM4_[A-Za-z]*' "$def" | sort)"
expect Kestrava.DLL "$(printf '%s\n' DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer | sort)"

# None of them may need a MinGW runtime DLL beside it.
for dll in "$bin"/*.dll "$bin"/*.DLL; do
  [ -f "$dll" ] || continue
  if "$objdump" -p "$dll" | grep -qiE 'DLL Name: (libgcc|libstdc|libwinpthread)'; then
    echo "FAIL $(basename "$dll") needs a MinGW runtime DLL"
    failed=1
  fi
done
exit $failed
