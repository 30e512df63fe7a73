#!/usr/bin/env bash
# The workspace model is QtCore and QtGui only: nothing built on it may pull in Qt Widgets.
set -euo pipefail
build="$1"
binary="$build/Tests/VornSledModel_ViewModels_tests"
[ -x "$binary" ] || { echo "missing $binary"; exit 1; }
libraries="$(ldd "$binary")"
echo "$libraries" | grep -q 'libQt6Gui' || { echo "the model tests do not link QtGui at all?"; exit 1; }
if echo "$libraries" | grep -q 'libQt6Widgets'; then
    echo "VornSledModel links Qt Widgets:"
    echo "$libraries" | grep 'libQt6Widgets'
    exit 1
fi
link_line="$(find "$build" -path '*VornSledModel_ViewModels_tests.dir/link.txt' -print -quit 2>/dev/null || true)"
if [ -n "$link_line" ] && grep -q 'Qt6Widgets\|libQt6Widgets' "$link_line"; then
    echo "the model's link line names Qt Widgets"
    exit 1
fi
echo "no Qt Widgets"
