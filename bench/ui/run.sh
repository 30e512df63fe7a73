#!/usr/bin/env bash
# Builds the release preset and runs the explorer's benchmark (offscreen) beside `ls -l`.
#   bench/ui/run.sh                   a folder of 100,000 files
#   bench/ui/run.sh --files 20000     a smaller folder
#   bench/ui/run.sh --workdir D       put the folder in D (default: $TMPDIR or /tmp)
set -euo pipefail
project="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$project"
cmake --preset release > /dev/null
cmake --build --preset release --target bench_ui -j3 > /dev/null
exec env QT_QPA_PLATFORM=offscreen "$project/build/release/bench/bench_ui" "$@"
