# Sourced by scripts that need a private X display.
#
# Sourcing it makes `scratch`, a fresh folder, and `pids`, an empty array; at the script's exit
# every process listed in `pids` is stopped and the folder removed.
#
# `vorn_x_session SCRATCH WIDTHxHEIGHT` starts Xvfb on a display number it picks itself and
# openbox on it, exports DISPLAY, and appends both process ids to `pids`. Returns non-zero with the
# server's log when the display does not come up.
scratch="$(mktemp -d)"
pids=()
vorn_x_cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null || true; done
    rm -rf "$scratch"
}
trap vorn_x_cleanup EXIT

vorn_x_session() {
    local scratch="$1" geometry="$2"
    # -displayfd: the server writes the number it took once it accepts clients, so two scripts
    # starting at once never race for one number.
    Xvfb -displayfd 3 -screen 0 "${geometry}x24" -nolisten tcp 3> "$scratch/xvfb.display" \
        > "$scratch/xvfb.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 1 200); do [ -s "$scratch/xvfb.display" ] && break; sleep 0.1; done
    if [ ! -s "$scratch/xvfb.display" ]; then
        echo "Xvfb did not start:"
        cat "$scratch/xvfb.log"
        return 1
    fi
    export DISPLAY=":$(head -n 1 "$scratch/xvfb.display")"
    for _ in $(seq 1 100); do xdotool getdisplaygeometry > /dev/null 2>&1 && break; sleep 0.1; done
    openbox > "$scratch/openbox.log" 2>&1 &
    pids+=($!)
    # openbox has taken the screen once it publishes the current desktop.
    for _ in $(seq 1 100); do xdotool get_desktop > /dev/null 2>&1 && break; sleep 0.1; done
    unset WAYLAND_DISPLAY
}
