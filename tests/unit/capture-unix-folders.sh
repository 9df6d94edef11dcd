#!/usr/bin/env bash
# Runs the snapshot tests that need folders only Unix can make: a small disk that fills up, a
# folder with room for no new file, an append-only folder where files are made but none renamed
# or removed (all tmpfs mounts of their own, so root), and a symbolic link (Wine shows it as a
# plain file). A test whose folder cannot be made reports itself skipped.
# Usage: capture-unix-folders.sh RUNNER TEST_EXECUTABLE
set -euo pipefail
runner=$1
test=$2
filter=Capture.FullDiskKeepsThePreviousSnapshotAndLeavesNothingBehind
filter+=:Capture.FolderWithoutRoomForNewFilesIsWrittenInPlace
filter+=:Capture.SymbolicLinkIsWrittenThroughNotReplaced
filter+=:Capture.FolderThatRefusesTheMoveIsWrittenInPlace
top=$(mktemp -d)
mounted=()
cleanup() {
  for dir in "${mounted[@]+"${mounted[@]}"}"; do chattr -a "$dir" 2>/dev/null; umount "$dir"; done
  rm -rf "$top"
}
trap cleanup EXIT
windows() { echo "Z:${1//\//\\}"; }
# mount_small NAME OPTIONS: a tmpfs of its own at $top/NAME; `made` is its Windows path, or
# empty when it cannot be mounted.
mount_small() {
  made=
  mkdir "$top/$1"
  if [ "$(id -u)" = 0 ] && mount -t tmpfs -o "$2" "kestrava-$1" "$top/$1" 2>/dev/null; then
    mounted+=("$top/$1")
    made=$(windows "$top/$1")
  else
    echo "not root, or mounting is not allowed here: the test on $1 skips"
  fi
}
mount_small small-disk size=48k
small=$made
# The folder itself takes one inode: room for exactly one file.
mount_small full-folder size=1m,nr_inodes=2
full=$made
mount_small append-only size=1m
appendonly=$made
if [ -n "$appendonly" ] && ! chattr +a "$top/append-only" 2>/dev/null; then
  echo "chattr +a is refused on tmpfs here: the test on append-only skips"
  appendonly=
fi
mkdir "$top/links"
echo previous >"$top/links/target.jpg"
ln -s target.jpg "$top/links/link.jpg"
env ${small:+KESTRAVA_SMALL_DISK="$small"} ${full:+KESTRAVA_FULL_FOLDER="$full"} \
  ${appendonly:+KESTRAVA_APPEND_ONLY_FOLDER="$appendonly"} \
  KESTRAVA_LINK_FOLDER="$(windows "$top/links")" "$runner" "$test" "--gtest_filter=$filter"
