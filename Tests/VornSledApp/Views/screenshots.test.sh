#!/usr/bin/env bash
# The real program under Xvfb and a window manager: every tab, the connection sheet, the sync
# sheet and the open language menu in English and Turkish, and the smallest window at scale 1 and
# 2, kept with the test artefacts. The script fails when a picture does not show what its name says.
set -euo pipefail
build="$1"
for tool in Xvfb openbox xdotool xwininfo; do
    if ! command -v "$tool" > /dev/null; then
        echo "$tool is missing"
        [ "${CI:-}" = "true" ] && exit 1 || exit 77
    fi
done
out="$build/Tests/artefacts/screenshots"
rm -rf "$out"
bash "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/screenshots.sh" "$build" "$out"
for language in en tr; do
    for screen in dual-pane lan lan-stopped lan-peers transfers connection-sheet sync-sheet language-menu \
        dual-pane-small transfers-small dual-pane-scale2 transfers-scale2; do
        test -s "$out/$screen-$language.png" || { echo "missing $screen-$language.png"; exit 1; }
    done
done
