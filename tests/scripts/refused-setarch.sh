#!/usr/bin/env bash
# Where setarch -R is refused (a stand-in first on PATH that exits 1), Wine still starts. The
# session's probe says so once and exports the answer, which the runner follows without a word;
# outside a session the runner probes by itself and says so once.
# Usage: refused-setarch.sh <wine-run.sh> <wine-session.sh>
set -u
run=$1 session=$2
stand=$(mktemp -d)
trap 'rm -rf "$stand"' EXIT
printf '#!/bin/sh\necho "$*" >>"%s/calls"\nexit 1\n' "$stand" >"$stand/setarch"
chmod +x "$stand/setarch"
export PATH="$stand:$PATH"
unset KESTRAVA_SETARCH
note='setarch -R is refused'
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
calls() { if [ -f "$stand/calls" ]; then wc -l <"$stand/calls"; else echo 0; fi; }

# A trivial program through the runner: it must start, and say the note `$1` times.
started() {
  local out
  out=$("$run" cmd /c echo started 2>"$stand/err" | tr -d '\r')
  [ "$out" = started ] || fail "$2: Wine did not start (printed '$out')"
  [ "$(grep -c "$note" "$stand/err")" = "$1" ] ||
    fail "$2: the note was said $(grep -c "$note" "$stand/err") times, not $1"
}

started 1 "outside a session"
[ "$(calls)" = 1 ] || fail "outside a session, the stand-in ran $(calls) times, not once"

(
  # shellcheck source=../../scripts/wine-session.sh
  . "$session"
  wine_session_probe 2>"$stand/probe"
  wine_session_probe 2>>"$stand/probe"
  [ "${KESTRAVA_SETARCH:-}" = 0 ] || fail "the session exported '${KESTRAVA_SETARCH:-}', not 0"
  [ "$(grep -c "$note" "$stand/probe")" = 1 ] || fail "the session did not say so exactly once"
  started 0 "in a session"
  exit "$failed"
) || failed=1
[ "$(calls)" = 2 ] || fail "with the session's probe, the stand-in ran $(calls) times, not twice"

[ "$failed" = 0 ] && echo "Wine starts where setarch -R is refused: ok"
exit "$failed"
