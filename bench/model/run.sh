#!/usr/bin/env bash
# Builds the release preset and runs the workspace model's benchmark beside the engine alone.
#   bench/model/run.sh              10,000 x 4 KiB and 4 x 256 MiB
#   bench/model/run.sh --quick      1,000 x 4 KiB and 4 x 16 MiB
#   bench/model/run.sh --workdir D  put the data in D (default: the small batch in /dev/shm when it has
#                                   room, the large one in $TMPDIR or /tmp)
set -euo pipefail
project="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$project"
cmake --preset release > /dev/null
cmake --build --preset release --target bench_model -j"$(nproc)" > /dev/null
exec "$project/build/release/bench/bench_model" "$@"
