# Sourced by scripts that need a private X display.
#
# Sourcing it makes `scratch`, a fresh folder, and `pids`, an empty array; at the script's exit
# every process listed in `pids` is stopped and the folder removed.
#
# `vorn_x_session SCRATCH WIDTHxHEIGHT` starts Xvfb on a display number it picks itself and
# openbox on it, exports DISPLAY, and appends both process ids to `pids`. Returns non-zero with the
# server's or the window manager's log when either does not come up.
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
    # starting at once never race for one number. -noreset: by default the server resets when its
    # last client leaves, which is the probe below; a window manager that connects during that reset
    # is dropped, and the session goes on without one.
    Xvfb -displayfd 3 -screen 0 "${geometry}x24" -nolisten tcp -noreset 3> "$scratch/xvfb.display" \
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
    local manager=$!
    pids+=($manager)
    # openbox has taken the screen once it publishes the current desktop.
    local managed=0
    for _ in $(seq 1 300); do
        if xdotool get_desktop > /dev/null 2>&1; then managed=1; break; fi
        kill -0 "$manager" 2> /dev/null || break
        sleep 0.1
    done
    if (( ! managed )); then
        echo "openbox did not start managing $DISPLAY:"
        cat "$scratch/openbox.log"
        return 1
    fi
    unset WAYLAND_DISPLAY
}
