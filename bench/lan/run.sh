#!/usr/bin/env bash
# Builds the optimised LAN benchmark and runs it beside its peers (socat, python3 http.server),
# printing the throughput ratios at the end. Extra arguments go to the benchmark program.
set -euo pipefail
project="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$project"
for tool in socat python3; do
    command -v "$tool" > /dev/null || { echo "bench/lan needs $tool (scripts/setup.sh --test installs it)" >&2; exit 1; }
done
cmake --preset release > /dev/null
cmake --build --preset release --target bench_lan -j "$(nproc)"
exec build/release/bench/bench_lan "$@"
