#!/usr/bin/env bash
# Builds the LZFSE decoder fuzzer with clang (libFuzzer + ASan + UBSan) and runs it for a while,
# seeded with the reference-encoder fixtures. Not part of the normal build or test run.
#   Tests/fuzz/run-lzfse-fuzz.sh [seconds, default 60] [extra libFuzzer options...]
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
seconds="${1:-60}"
shift || true
out="$root/build/fuzz"
mkdir -p "$out/corpus"

clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -Wall -Wextra -Werror -I"$root/Sources/VornKit/Localization" \
    "$root/Sources/VornKit/Localization/VornLZFSE.cpp" "$here/VornLZFSEFuzz.cpp" \
    -o "$out/lzfse-fuzz"

cp -f "$root"/Tests/fixtures/lzfse/*.lzfse "$out/corpus/"
cd "$out"  # libFuzzer writes crash files and job logs into the working folder
exec "$out/lzfse-fuzz" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 "$@" "$out/corpus"
