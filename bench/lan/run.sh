#!/usr/bin/env bash
# Builds the optimised LAN benchmark and runs it beside its peers (curl, socat with tee and
# sha256sum, python3 http.server), printing times and ratios. Extra arguments go to the program:
#   bench/lan/run.sh --big            the large payload is 1 GiB (default 256 MiB)
#   bench/lan/run.sh --repetitions 5  best of 5 runs (default 3)
set -euo pipefail
project="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$project"
# What it is measured beside is installed first, as for the tests.
bash scripts/setup.sh --bench
for tool in curl socat python3 tee sha256sum xargs; do
    command -v "$tool" > /dev/null || { echo "bench/lan needs $tool (scripts/setup.sh --bench installs it)" >&2; exit 1; }
done
cmake --preset release > /dev/null
cmake --build --preset release --target bench_lan -j "$(nproc)"
exec build/release/bench/bench_lan "$@"
