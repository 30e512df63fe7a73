#!/usr/bin/env bash
# Builds the release preset and runs the walk-and-plan benchmark beside `rsync -an --delete`.
# Arguments go to the program: [work folder] [files] [differences].
set -euo pipefail
cd "$(dirname "$0")/../.."
# What it is measured beside is installed first, as for the tests.
bash scripts/setup.sh --bench
for tool in rsync /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "bench/plan needs $tool (scripts/setup.sh --bench installs it)" >&2; exit 1; }
done
cmake --preset release >/dev/null
cmake --build --preset release --target bench_plan
exec build/release/bench/bench_plan "$@"
