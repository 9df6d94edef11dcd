#!/usr/bin/env bash
# The test command: bootstrap, build both architectures, package them into dist/, and run every
# test under Wine: 32-bit in BUILD_DIR, then 64-bit in BUILD_DIR64. Each run ends with CTest's
# summary; the last line counts both. Usage: scripts/test.sh [BUILD_DIR]   (default: build)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(cd "$here/.." && pwd)"
base="$(mkdir -p "${1:-$top/build}" && cd "${1:-$top/build}" && pwd)"

bash "$here/build.sh" "$base"
# The release packages of what was just built, so that they cannot rot: the tests unpack them.
bash "$here/package.sh" "$base" "${base}64"

# Asked once for both architectures' sessions, so a refusal is reported once.
. "$here/wine-session.sh"
wine_session_probe
passed=0 failed=0 skipped=0 status=0
for build in "$base" "${base}64"; do
  echo "== tests of $build"
  log=$(mktemp)
  # A subshell per architecture: each has its own prefix and wineserver, ended with it.
  (
    . "$here/wine-session.sh"
    wine_session "$build"
    cd "$build"
    ctest --output-on-failure --timeout 900
  ) 2>&1 | tee "$log" || status=1
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  # CTest counts a skipped test among the passed ones, and lists it as "(Skipped)".
  skips=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log" || true)
  rm -f "$log"
  if [ -z "$summary" ]; then
    status=1
    continue
  fi
  total=${summary##* }
  bad=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed.*/\1/')
  passed=$((passed + total - bad - skips))
  failed=$((failed + bad))
  skipped=$((skipped + skips))
done
if [ "$skipped" = 0 ]; then
  echo "$passed passed, $failed failed"
else
  echo "$passed passed, $failed failed, $skipped skipped"
fi
exit "$status"
