#!/usr/bin/env bash
# Runs the snapshot test that needs a nearly full disk on a small tmpfs of its own. Mounting
# needs root; otherwise the test runs without it and reports itself skipped.
# Usage: capture-full-disk.sh RUNNER TEST_EXECUTABLE
set -euo pipefail
runner=$1
test=$2
filter=--gtest_filter=Capture.FullDiskKeepsThePreviousSnapshotAndLeavesNothingBehind
dir=$(mktemp -d)
trap 'rmdir "$dir"' EXIT
if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=48k kestrava-small-disk "$dir" 2>/dev/null; then
  trap 'umount "$dir"; rmdir "$dir"' EXIT
  KESTRAVA_SMALL_DISK="Z:${dir//\//\\}" "$runner" "$test" "$filter"
else
  echo "not root, or mounting is not allowed here: the test skips"
  "$runner" "$test" "$filter"
fi
