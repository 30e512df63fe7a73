#!/usr/bin/env bash
# The pane's list under a real X server and window manager: real key presses (xdotool) under Xvfb
# and openbox reach the list, move its focus row, select and open.
set -euo pipefail
build="$1"
for tool in Xvfb openbox xdotool; do
    if ! command -v "$tool" > /dev/null; then
        echo "$tool is missing"
        [ "${CI:-}" = "true" ] && exit 1 || exit 77
    fi
done
binary="$build/Tests/VornSledApp_Views_tests"
[ -x "$binary" ] || { echo "missing $binary"; exit 1; }

scratch="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/x-session.sh"
vorn_x_session "$scratch" 1280x800

export QT_QPA_PLATFORM=xcb VORN_UNDER_WINDOW_MANAGER=1
"$binary" --gtest_filter='UnderWindowManager.*' 2>&1 | tee "$scratch/run.log"
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || exit "$status"
# The test must have run here, not stood aside.
if grep -q '\[  SKIPPED \]' "$scratch/run.log"; then echo "the window-manager test was skipped"; exit 1; fi
grep -q '\[  PASSED  \] 1 test' "$scratch/run.log"
