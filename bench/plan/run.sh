#!/usr/bin/env bash
# Builds the release preset and runs the walk-and-plan benchmark beside `rsync -an --delete`.
# Arguments go to the program: [work folder] [files] [differences].
set -euo pipefail
cd "$(dirname "$0")/../.."
command -v rsync >/dev/null || { echo "bench/plan needs rsync: apt-get install rsync" >&2; exit 1; }
cmake --preset release >/dev/null
cmake --build --preset release --target bench_plan
exec build/release/bench/bench_plan "$@"
