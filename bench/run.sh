#!/usr/bin/env bash
# Runs the benchmarks, each beside its peer tools, and prints their times and ratios.
#   bench/run.sh                  every benchmark (transfer, plan, lan, sftp, s3, ...)
#   bench/run.sh transfer plan    only those named
# Each bench/<name>/run.sh builds what it needs with the release preset; extra options of one
# benchmark are given by running its own script.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
names=("$@")
if [ "${#names[@]}" -eq 0 ]; then
    for script in "$here"/*/run.sh; do names+=("$(basename "$(dirname "$script")")"); done
fi
status=0
for name in "${names[@]}"; do
    echo "=== bench/$name"
    bash "$here/$name/run.sh" || { echo "bench/$name failed" >&2; status=1; }
done
exit "$status"
