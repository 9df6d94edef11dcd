#!/usr/bin/env bash
# The main command: sets everything up on a fresh machine, registers the component in the
# project's Wine prefix and plays a clip through it with the demo host, for 32-bit and then for
# 64-bit hosts, each with its own build, prefix and output folder.
# Usage: scripts/run-demo.sh [--arch 32|64] [CLIP] [OUTPUT_DIR]
#   --arch      only this architecture (default: both, in turn)
#   CLIP        a video file (default: a sample clip made with the ffmpeg tool)
#   OUTPUT_DIR  where the snapshots, the window screenshot, the report and the log go, in a
#               folder per architecture, 32-bit/ and 64-bit/ (default: demo-output)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(cd "$here/.." && pwd)"
archs=(32 64)
if [ "${1:-}" = --arch ]; then
  case "${2:-}" in
    32 | 64) archs=("$2") ;;
    *)
      echo "run-demo: --arch takes 32 or 64" >&2
      exit 2
      ;;
  esac
  shift 2
fi

# A wrong clip stops here, before minutes of building; the path is used as given.
clip="${1:-}"
if [ -n "$clip" ]; then
  if [ -d "$clip" ]; then
    echo "run-demo: $clip is a folder: give a video file" >&2
    exit 2
  elif [ ! -e "$clip" ]; then
    echo "run-demo: no such file: $clip" >&2
    exit 2
  elif [ ! -r "$clip" ]; then
    echo "run-demo: cannot read $clip" >&2
    exit 2
  fi
  case "$clip" in /*) ;; *) clip="$PWD/$clip" ;; esac
fi
base="$(mkdir -p "${KESTRAVA_BUILD_DIR:-$top/build}" && cd "${KESTRAVA_BUILD_DIR:-$top/build}" && pwd)"
top_out="$(mkdir -p "${2:-$top/demo-output}" && cd "${2:-$top/demo-output}" && pwd)"

for arch in "${archs[@]}"; do
  bash "$here/build.sh" --arch "$arch" "$base" KestravaDemo Kestrava playctrl_engine QorLog \
    CommonModule
done

if [ -z "$clip" ]; then
  clip="$top_out/sample.mp4"
  if [ ! -s "$clip" ]; then
    echo "== making a sample clip: $clip"
    ffmpeg -nostdin -hide_banner -loglevel error -y \
      -f lavfi -i testsrc2=size=640x360:rate=25 \
      -f lavfi -i sine=frequency=330:sample_rate=44100 \
      -frames:v 200 -shortest -pix_fmt yuv420p \
      -c:v libx264 -preset veryfast -g 25 -c:a aac -b:a 96k "$clip"
  fi
fi

# Sound libraries complain on machines without a sound card, and Wine about its X connection;
# everything else on standard error still shows.
quiet() { grep -v -e '^ALSA lib' -e '^X connection to' >&2 || true; }

# One architecture: its own build, prefix (win64 for 64-bit) and output folder.
demo() {
  local arch=$1 build out
  build=$base
  [ "$arch" = 32 ] || build="${base}64"
  out="$top_out/$arch-bit"
  mkdir -p "$out"
  echo "== $arch-bit: the component for $arch-bit hosts ($build)"
  wine_session "$build"

  echo "== registering Kestrava.DLL in $WINEPREFIX"
  rc=0
  (cd "$build/bin" && "$build/wine-run.sh" regsvr32 /s Kestrava.DLL) 2> >(quiet) || rc=$?
  if [ "$rc" != 0 ]; then
    echo "regsvr32 failed with exit code $rc" >&2
    for dll in Kestrava.DLL PlayCtrl.dll QorLog.dll CommonModule.dll; do
      [ -f "$build/bin/$dll" ] || echo "  missing: $build/bin/$dll" >&2
    done
    exit 1
  fi

  # The log goes beside the output: a fresh kestrava.log for this run.
  cp "$build/bin/log.properties" "$out/log.properties"
  rm -f "$out"/snapshot.jpg "$out"/snapshot.bmp "$out"/window.bmp "$out"/window.png \
    "$out"/kestrava.log "$out"/report.txt
  echo "== playing $clip"
  rc=0
  (cd "$out" && "$build/wine-run.sh" "$build/bin/KestravaDemo.exe" "Z:$clip" "Z:$out" 1000 2000) \
    2> >(quiet) >"$out/report.txt" || rc=$?
  rm -f "$out/log.properties"
  if [ -s "$out/window.bmp" ] &&
    ffmpeg -nostdin -loglevel error -y -i "$out/window.bmp" "$out/window.png"; then
    rm -f "$out/window.bmp"
    sed -i 's|window\.bmp|window.png|' "$out/report.txt"
  fi
  # Unix paths in the report, as the user gave them.
  sed -i -e 's/\r$//' -e 's|Z:/|/|g' "$out/report.txt"
  cat "$out/report.txt"
  if [ -s "$out/kestrava.log" ]; then
    echo "== calls the engine refused, with its reasons ($out/kestrava.log):"
    cat "$out/kestrava.log"
  else
    rm -f "$out/kestrava.log"
  fi
  echo "== written to $out:"
  (cd "$out" && ls -l -- *)
  return "$rc"
}

# shellcheck source=wine-session.sh
source "$here/wine-session.sh"
wine_session_probe # once for both architectures
results=() status=0
for arch in "${archs[@]}"; do
  set +e
  (
    set -e
    demo "$arch"
  )
  rc=$?
  set -e
  result=ok
  [ "$rc" = 0 ] || result="failed (exit code $rc)"
  results+=("$arch-bit: $result, in $top_out/$arch-bit")
  [ "$rc" = 0 ] || status=1
done
echo "== the demo for each architecture:"
printf '   %s\n' "${results[@]}"
exit "$status"
