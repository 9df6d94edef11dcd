#!/usr/bin/env bash
# Builds and runs every benchmark under Wine; each prints ratios measured within its own run.
# Usage: scripts/bench.sh [BUILD_DIR]   (default: build)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(cd "$here/.." && pwd)"
build="${1:-$top/build}"

bash "$here/build.sh" "$build"
. "$here/wine-session.sh"
wine_session "$build"
cd "$build/bin"
for bench in bench_*.exe; do
  [ -f "$bench" ] || continue
  echo "== $bench"
  "$build/wine-run.sh" "./$bench"
done
