#!/usr/bin/env bash
# The views under a real X server and window manager (Xvfb and openbox): real key presses
# (xdotool) reach the pane's list, move its focus row, select and open; the main window opens
# inside a screen lower than its default size.
exec bash "$(dirname "${BASH_SOURCE[0]}")/../../Support/under-window-manager.sh" "$1" VornSledApp_Views_tests 2
