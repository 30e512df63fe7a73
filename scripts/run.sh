#!/usr/bin/env bash
# Installs what is needed, builds the optimised application and starts it.
set -euo pipefail
project="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$project"

bash scripts/setup.sh
cmake --preset release > /dev/null
cmake --build --preset release -j "$(nproc)"

program="$project/build/release/Sources/vornsled"
# Without a display Qt could only fail; say how to see the program instead.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    # Quoted for the shell, so that a line pasted from a clone whose path holds a space still runs.
    echo "vornsled is built ($program), but this session has no display to show its window on."
    echo "Start it from a desktop session, or see it without one:"
    echo "  xvfb-run -a $(printf '%q' "$program")    # a virtual display"
    echo "  bash $(printf '%q' "$project/scripts/screenshots.sh")    # pictures of every tab and sheet in build/screenshots"
    exit 0
fi
exec "$program" "$@"
