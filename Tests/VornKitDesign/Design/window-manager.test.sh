#!/usr/bin/env bash
# Window chrome on a real X server with a window manager: the floating panel and the unified
# titlebar driven by the real pointer (xdotool) under Xvfb and openbox.
set -euo pipefail
build="$1"
for tool in Xvfb openbox xdotool; do
    if ! command -v "$tool" > /dev/null; then
        echo "$tool is missing"
        [ "${CI:-}" = "true" ] && exit 1 || exit 77
    fi
done
binary="$build/Tests/VornKitDesign_Design_tests"
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
# Each test must have run here, not stood aside.
if grep -q '\[  SKIPPED \]' "$scratch/run.log"; then echo "the window-manager tests were skipped"; exit 1; fi
grep -q '\[  PASSED  \] 2 tests' "$scratch/run.log"
