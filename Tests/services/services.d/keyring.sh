# A Secret Service (gnome-keyring) on a private D-Bus session bus, its default collection unlocked.
start_keyring() {
    local dir="$1" logfile="$2"
    mkdir -p "$dir/run" "$dir/home/.local/share"
    chmod 700 "$dir/run"
    local bus="unix:path=$dir/run/bus"
    spawn keyring "$logfile.dbus" dbus-daemon --session --address="$bus" --nofork --nopidfile
    wait_until 10 test -S "$dir/run/bus"
    printf %s vorn-test-keyring > "$dir/password"
    SPAWN_STDIN="$dir/password" spawn keyring "$logfile" env HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" \
        XDG_DATA_HOME="$dir/home/.local/share" DBUS_SESSION_BUS_ADDRESS="$bus" \
        gnome-keyring-daemon --foreground --unlock --components=secrets
    wait_until 15 sh -c "DBUS_SESSION_BUS_ADDRESS='$bus' gdbus call --session -d org.freedesktop.DBus \
        -o /org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner org.freedesktop.secrets | grep -q true"
    expect_socket "$dir/run/bus"
    env_put KEYRING_DBUS_ADDRESS "$bus"
}
