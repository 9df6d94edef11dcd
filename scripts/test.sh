#!/usr/bin/env bash
# The test command: bootstrap, build, and run every test under Wine. Ends with CTest's summary.
# Usage: scripts/test.sh [BUILD_DIR]   (default: build)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(cd "$here/.." && pwd)"
build="$(mkdir -p "${1:-$top/build}" && cd "${1:-$top/build}" && pwd)"

bash "$here/build.sh" "$build"

. "$here/wine-session.sh"
wine_session "$build"
cd "$build"
ctest --output-on-failure --timeout 900
