#!/usr/bin/env bash
# Builds the registry-script reader natively with clang and libFuzzer (address, undefined and
# leak sanitizers) and runs it for a bounded time, seeded with the module's own script.
# Usage: tests/fuzz/fuzz-rgs.sh [seconds, default 60] [build folder, default build-fuzz]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-60}
out=${2:-$root/build-fuzz}
mkdir -p "$out/corpus"
out=$(cd "$out" && pwd)

clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/server" "$root/server/RegistryScript.cpp" "$here/RegistryScriptFuzz.cpp" \
  -o "$out/rgs-fuzz"

cp "$root/server/Kestrava.rgs" "$out/corpus/seed-module.rgs"
printf "HKCR { NoRemove A { ForceRemove 'B''c' = s '%%MODULE%%' { val X = s 'y' } } }" \
  >"$out/corpus/seed-small.rgs"

cd "$out"
ASAN_OPTIONS=detect_leaks=1 ./rgs-fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=4096 -print_final_stats=1 corpus
