# Shared helpers for the dependency recipes. Sourced, not run.
# KESTRAVA_ARCH (32, the default, or 64) picks the architecture. A recipe's results live in
# $KESTRAVA_DEPS_ROOT/<name>-<cpu>-<hash>, where the hash covers the recipe, this file and the
# cross compiler's version: a changed recipe builds afresh, each architecture on its own.
KESTRAVA_DEPS_ROOT="${KESTRAVA_DEPS_ROOT:-/var/cache/kestrava-deps}"
case "${KESTRAVA_ARCH:-32}" in
  32) KESTRAVA_TRIPLE=i686-w64-mingw32 KESTRAVA_CPU=i686 ;;
  64) KESTRAVA_TRIPLE=x86_64-w64-mingw32 KESTRAVA_CPU=x86_64 ;;
  *)
    echo "KESTRAVA_ARCH must be 32 or 64, not '$KESTRAVA_ARCH'" >&2
    exit 1
    ;;
esac
DEPS_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

dep_prefix() {
  local name=$1 hash
  hash=$( (cat "$DEPS_DIR/common.sh" "$DEPS_DIR/$name.sh"
           "$KESTRAVA_TRIPLE-g++-posix" --version 2>/dev/null | head -n 1) | sha256sum | cut -c1-16)
  echo "$KESTRAVA_DEPS_ROOT/$name-$KESTRAVA_CPU-$hash"
}

# fetch_source BINARY_PACKAGE DEST: unpack the Debian source package (with Debian's patches)
# that builds BINARY_PACKAGE into DEST.
fetch_source() {
  local pkg=$1 dest=$2 src="$KESTRAVA_DEPS_ROOT/src"
  mkdir -p "$src"
  (cd "$src" && apt-get source --download-only "$pkg" >/dev/null 2>&1) ||
    (apt-get update -q >/dev/null && cd "$src" && apt-get source --download-only "$pkg")
  local srcname dsc
  srcname=$(apt-cache showsrc "$pkg" | awk -v p="$pkg" '
    /^Package:/ {name=$2} /^Binary:/ { if ((" " $0 ",") ~ (" " p ",")) { print name; exit } }')
  dsc=$(ls -t "$src/${srcname}"_*.dsc | head -n 1)
  rm -rf "$dest"
  dpkg-source --no-check -x "$dsc" "$dest" >/dev/null
}

# Runs a recipe's build function once per prefix. Usage: dep_build NAME FUNCTION
dep_build() {
  local name=$1 fn=$2 prefix
  prefix=$(dep_prefix "$name")
  if [ -f "$prefix/.complete" ]; then
    return 0
  fi
  echo "== building $name for MinGW into $prefix"
  local work
  work=$(mktemp -d "${TMPDIR:-/tmp}/kestrava-$name.XXXXXX")
  rm -rf "$prefix"
  mkdir -p "$prefix"
  if ! (set -e; "$fn" "$work" "$prefix"); then
    echo "!! building $name failed (work folder kept: $work)" >&2
    return 1
  fi
  rm -rf "$work"
  touch "$prefix/.complete"
}
