#!/usr/bin/env bash
# Builds the release preset and runs the transfer benchmark beside cp + sha256sum and rclone.
#   bench/transfer/run.sh              modest data (200 x 1 MiB + 4 x 32 MiB, 10,000 x 4 KiB)
#   bench/transfer/run.sh --big        1,000 x 1 MiB + 4 x 256 MiB, 10,000 x 4 KiB
#   bench/transfer/run.sh --workdir D  put the data in D (default: $TMPDIR or /tmp)
set -euo pipefail
project="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$project"
# What it is measured beside is installed first, as for the tests.
bash scripts/setup.sh --bench
cmake --preset release > /dev/null
cmake --build --preset release --target bench_transfer -j"$(nproc)" > /dev/null
exec "$project/build/release/bench/bench_transfer" "$@"
