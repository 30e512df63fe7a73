#!/usr/bin/env bash
# Builds the request-head fuzzer with clang (libFuzzer + ASan + UBSan) and runs it for a few
# seconds from a small seed corpus. A longer hunt: FUZZ_SECONDS=600 bash this-file BUILD_DIR.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
build="${1:-$root/build/test}"
out="$build/fuzz/lan-request-head"
seconds="${FUZZ_SECONDS:-5}"

if ! command -v clang++ > /dev/null; then
    echo "clang++ is not installed"
    [ "${CI:-}" = true ] && exit 1
    exit 77
fi
mkdir -p "$out/corpus"

icu_flags="$(pkg-config --cflags --libs icu-uc)"
# shellcheck disable=SC2086
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -Wall -Wextra -Werror \
    -I"$root/Sources/VornSledCore/LAN" -I"$root/Sources/VornKit/Utilities" \
    "$root/Sources/VornSledCore/LAN/LANRequestHead.cpp" \
    "$root/Sources/VornSledCore/LAN/LANFileNameSanitizer.cpp" \
    "$root/Sources/VornKit/Utilities/VornUnicode.cpp" \
    "$root/Tests/fuzz/LANRequestHeadFuzz.cpp" \
    $icu_flags -o "$out/request-head-fuzz"

printf 'GET /api/v1/info HTTP/1.1\r\nHost: a' > "$out/corpus/info"
printf 'POST /api/v1/upload?pin=12%%2034 HTTP/1.1\r\nX-VornSled-PIN: \r\nX-VornSled-Filename: ..%%2F%%E2%%80%%AEa.txt\r\nContent-Length: +42' > "$out/corpus/upload"
printf 'get   http://x:80/a%%zz?pin#f HTTP/1.0\r\n  Content-LENGTH\t: -1 \r\nno colon\r\n\xff\xfe: \xc3' > "$out/corpus/odd"

cd "$out"  # libFuzzer writes crash files into the working folder
if ! ./request-head-fuzz -max_total_time="$seconds" -runs=2000000 -max_len=4096 -rss_limit_mb=2048 \
    -print_final_stats=1 corpus > fuzz.log 2>&1; then
    cat fuzz.log
    exit 1
fi
tail -n 6 fuzz.log
