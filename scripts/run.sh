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
    echo "vornsled is built ($program), but this session has no display to show its window on."
    echo "Start it from a desktop session, or see it without one:"
    echo "  xvfb-run -a $program          (a virtual display)"
    echo "  bash scripts/screenshots.sh   (pictures of every tab and sheet in build/screenshots)"
    exit 0
fi
exec "$program" "$@"
