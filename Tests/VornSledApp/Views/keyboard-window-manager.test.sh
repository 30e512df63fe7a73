#!/usr/bin/env bash
# The pane's list under a real X server and window manager: real key presses (xdotool) under Xvfb
# and openbox reach the list, move its focus row, select and open.
exec bash "$(dirname "${BASH_SOURCE[0]}")/../../Support/under-window-manager.sh" "$1" VornSledApp_Views_tests 1
