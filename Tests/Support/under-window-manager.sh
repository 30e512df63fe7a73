#!/usr/bin/env bash
# Runs the UnderWindowManager tests of one test program on a private X server with a window
# manager (Xvfb and openbox), where xdotool drives the real pointer and keyboard.
#
#   under-window-manager.sh BUILD_DIR PROGRAM TEST_COUNT
#
# Fails unless exactly TEST_COUNT tests ran and passed: a test that stood aside proves nothing.
set -euo pipefail
build="$1" program="$2" count="$3"
for tool in Xvfb openbox xdotool; do
    if ! command -v "$tool" > /dev/null; then
        echo "$tool is missing"
        [ "${CI:-}" = "true" ] && exit 1 || exit 77
    fi
done
binary="$build/Tests/$program"
[ -x "$binary" ] || { echo "missing $binary"; exit 1; }

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/x-session.sh"
vorn_x_session "$scratch" 1280x800

export QT_QPA_PLATFORM=xcb VORN_UNDER_WINDOW_MANAGER=1
"$binary" --gtest_filter='UnderWindowManager.*' 2>&1 | tee "$scratch/run.log"
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || exit "$status"
if grep -q '\[  SKIPPED \]' "$scratch/run.log"; then echo "a window-manager test was skipped"; exit 1; fi
grep -Eq "\[  PASSED  \] $count tests?\." "$scratch/run.log"
