#!/usr/bin/env bash
# ACE for MinGW, from Debian's source package: the core library (libACE.a), static.
# ACE's own build needs MPC-generated makefiles, so we compile ace.mpc's source list directly.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

build_ace() {
  local work=$1 prefix=$2
  fetch_source libace-dev "$work/ace"
  cd "$work/ace"
  cat >ace/config.h <<'CFG'
#ifndef ACE_CONFIG_H
#define ACE_CONFIG_H
#include "ace/config-win32.h"
#endif
CFG
  # The core sources: every .cpp of the ACE_COMPONENTS groups in ace.mpc and the feature
  # files it builds on (service configuration, tokens, codecs, ...).
  awk '/Source_Files\(ACE_COMPONENTS\)/ {on=1; next} on && /}/ {on=0} on && /\.cpp/ {print $1}' \
    ace/ace.mpc ace/*.mpb | sort -u >sources.txt
  mkdir -p obj
  {
    echo "CXX := $KESTRAVA_TRIPLE-g++-posix"
    echo "CXXFLAGS := -O2 -std=gnu++17 -mthreads -DACE_AS_STATIC_LIBS -DWIN32_LEAN_AND_MEAN -I. -w"
    printf 'OBJS :='
    sed 's#^\(.*\)\.cpp$# obj/\1.o#' sources.txt | tr -d '\n'
    echo
    echo 'all: $(OBJS)'
    echo 'obj/%.o: ace/%.cpp'
    printf '\t@mkdir -p $(dir $@) && $(CXX) $(CXXFLAGS) -c $< -o $@\n'
  } >Makefile.kestrava
  make -f Makefile.kestrava -j"$(nproc)" -k all
  mkdir -p "$prefix/lib" "$prefix/include/ace"
  "$KESTRAVA_TRIPLE-ar" rcs "$prefix/lib/libACE.a" $(find obj -name '*.o' | sort)
  (cd ace && find . \( -name '*.h' -o -name '*.inl' -o -name '*.cpp' \) -print0 |
    xargs -0 cp --parents -t "$prefix/include/ace")
}

if [ "${1:-}" = "--prefix" ]; then
  dep_prefix ace
else
  dep_build ace build_ace
fi
