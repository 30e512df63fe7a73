#!/usr/bin/env bash
# Window chrome on a real X server with a window manager: the floating panel and the unified
# titlebar driven by the real pointer (xdotool) under Xvfb and openbox.
exec bash "$(dirname "${BASH_SOURCE[0]}")/../../Support/under-window-manager.sh" "$1" VornKitDesign_Design_tests 2
