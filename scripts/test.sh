#!/usr/bin/env bash
# Installs what is needed, builds the sanitised test build, starts the real test services and
# runs the whole suite. Extra arguments go to ctest (e.g. -L lan).
set -euo pipefail
project="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$project"

bash scripts/setup.sh --test
cmake --preset test > /dev/null
cmake --build --preset test -j "$(nproc)"

build="$project/build/test"
trap 'bash Tests/services/services.sh stop "$build" || true' EXIT
# A service that fails to start is reported here; the tests that need it then fail under CI=true
# and skip with the reason otherwise.
bash Tests/services/services.sh start "$build" || echo "[test] some services did not start (see above)"

ctest --preset test -j "$(nproc)" "$@"
