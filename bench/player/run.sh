#!/usr/bin/env bash
# Player benchmarks under Wine; each prints its figures as ratios from its own run.
# Usage: bench/player/run.sh [BUILD_DIR]   (default: build; must be built already)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:-$top/build}" && pwd)"
run="$build/wine-run.sh"
"$run" "$build/bin/doubles/bench_dispatch.exe"
if [ -f "$build/bin/bench_log.exe" ] && [ -f "$build/bin/QorLog.dll" ]; then
  echo "-- real QorLog.dll"
  "$run" "$build/bin/bench_log.exe"
fi
echo "-- QorLog.dll double"
"$run" "$build/bin/doubles/bench_log_double.exe"
"$run" "$build/bin/doubles/bench_capture.exe"
