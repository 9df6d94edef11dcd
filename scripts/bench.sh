#!/usr/bin/env bash
# Builds and runs every benchmark under Wine, for 32-bit (BUILD_DIR) and then 64-bit
# (BUILD_DIR64); each prints ratios measured within its own run.
# Usage: scripts/bench.sh [BUILD_DIR]   (default: build)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(cd "$here/.." && pwd)"
base="$(mkdir -p "${1:-$top/build}" && cd "${1:-$top/build}" && pwd)"

bash "$here/build.sh" "$base"
. "$here/wine-session.sh"
wine_session_probe # once for both architectures
for build in "$base" "${base}64"; do
  echo "==== $(sed -n 's/^export WINEARCH=win//p' "$build/wine-run.sh")-bit ($build)"
  (
    . "$here/wine-session.sh"
    wine_session "$build"
    # Benchmarks that drive the component against the test doubles live beside them.
    for bench in "$build"/bin/bench_*.exe "$build"/bin/doubles/bench_*.exe; do
      [ -f "$bench" ] || continue
      case "$(basename "$bench")" in bench_engine.exe | bench_playback.exe | bench_sound.exe | bench_tiles.exe) continue ;; esac # clips, below
      echo "== $(basename "$bench")"
      (cd "$(dirname "$bench")" && "$build/wine-run.sh" "./$(basename "$bench")")
    done
    if [ -f "$build/bin/bench_engine.exe" ]; then
      echo "== bench_engine.exe"
      bash "$top/bench/engine/run.sh" "$build"
    fi
  )
done
