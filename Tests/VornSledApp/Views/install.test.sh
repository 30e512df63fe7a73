#!/usr/bin/env bash
# The install rule puts the program, its desktop entry and icon, and the resources where the
# desktop and the program look for them.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
test -x "$prefix/bin/vornsled"
entry="$prefix/share/applications/com.vornworks.vornsled.desktop"
grep -qx 'Exec=vornsled %F' "$entry"
grep -qx 'Icon=com.vornworks.vornsled' "$entry"
grep -qx 'Type=Application' "$entry"
test -s "$prefix/share/icons/hicolor/scalable/apps/com.vornworks.vornsled.svg"
test -d "$prefix/share/vornsled"
test ! -e "$prefix/share/vornsled/desktop"
if command -v desktop-file-validate > /dev/null; then
    desktop-file-validate "$entry"
fi
echo "installed under $prefix"
