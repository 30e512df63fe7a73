#!/usr/bin/env bash
# Installs what is needed, builds the optimised application and starts it.
set -euo pipefail
project="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$project"

bash scripts/setup.sh
cmake --preset release > /dev/null
cmake --build --preset release -j "$(nproc)"

program="$project/build/release/Sources/vornsled"
if [ ! -x "$program" ]; then
    echo "Everything is built; the vornsled program itself is not there yet."
    exit 0
fi
exec "$program" "$@"
