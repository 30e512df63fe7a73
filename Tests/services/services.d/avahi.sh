# Two mDNS hosts for the Bonjour tests: network namespaces A and B joined by a veth pair, each with
# its own system-type D-Bus and avahi-daemon. Nothing multicasts in the root namespace. A client
# in the root namespace publishes through bus A and browses through bus B.
# Names carry a tag made from the state folder, so several checkouts can run this at once.

avahi_tag() { printf '%s' "$state" | sha1sum | cut -c1-6; }

avahi_bus_config() {
    local socket="$1"
    cat <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
    <allow send_type="method_call"/>
  </policy>
</busconfig>
CONF
}

avahi_daemon_config() {
    local host="$1" interface="$2"
    cat <<CONF
[server]
host-name=$host
use-ipv4=yes
use-ipv6=no
allow-interfaces=$interface
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
[reflector]
enable-reflector=no
CONF
}

start_avahi() {
    local dir="$1" logfile="$2"
    local tag; tag="$(avahi_tag)"
    local nsA="vornA-$tag" nsB="vornB-$tag" vethA="vvA$tag" vethB="vvB$tag"
    printf '%s\n%s\n' "$nsA" "$nsB" > "$state/avahi-namespaces"
    ip netns add "$nsA"
    ip netns add "$nsB"
    ip link add "$vethA" type veth peer name "$vethB"
    ip link set "$vethA" netns "$nsA"
    ip link set "$vethB" netns "$nsB"
    ip -n "$nsA" addr add 10.203.77.1/24 dev "$vethA"
    ip -n "$nsB" addr add 10.203.77.2/24 dev "$vethB"
    ip -n "$nsA" link set lo up
    ip -n "$nsB" link set lo up
    ip -n "$nsA" link set "$vethA" up
    ip -n "$nsB" link set "$vethB" up
    mkdir -p /run/avahi-daemon

    local side ns interface host
    for side in A B; do
        if [ "$side" = A ]; then ns="$nsA"; interface="$vethA"; host="vornsled-a-$tag"
        else ns="$nsB"; interface="$vethB"; host="vornsled-b-$tag"; fi
        mkdir -p "$dir/$side/run"
        avahi_bus_config "$dir/$side/system_bus_socket" > "$dir/$side/system-bus.conf"
        avahi_daemon_config "$host" "$interface" > "$dir/$side/avahi-daemon.conf"
        spawn avahi "$logfile.bus$side" dbus-daemon --config-file="$dir/$side/system-bus.conf" --nofork --nopidfile
        wait_until 10 test -S "$dir/$side/system_bus_socket"
        spawn avahi "$logfile.$side" ip netns exec "$ns" env \
            DBUS_SYSTEM_BUS_ADDRESS="unix:path=$dir/$side/system_bus_socket" sh -c \
            "mount --bind '$dir/$side/run' /run/avahi-daemon && exec avahi-daemon -f '$dir/$side/avahi-daemon.conf' --no-drop-root --no-chroot --no-rlimits"
    done
    wait_until 15 grep -q "Server startup complete" "$logfile.A"
    wait_until 15 grep -q "Server startup complete" "$logfile.B"
    # Started is not enough: each daemon must be on the bus the tests reach it through.
    for side in A B; do
        wait_until 10 sh -c "DBUS_SYSTEM_BUS_ADDRESS='unix:path=$dir/$side/system_bus_socket' gdbus call --system \
            -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner \
            org.freedesktop.Avahi | grep -q true"
        expect_socket "$dir/$side/system_bus_socket"
    done

    env_put AVAHI_PUBLISH_BUS "unix:path=$dir/A/system_bus_socket"
    env_put AVAHI_BROWSE_BUS "unix:path=$dir/B/system_bus_socket"
    env_put AVAHI_NAMESPACE_A "$nsA"
    env_put AVAHI_NAMESPACE_B "$nsB"
    env_put AVAHI_ADDRESS_A 10.203.77.1
}

stop_avahi() {
    local file="$state/avahi-namespaces" ns
    [ -f "$file" ] || return 0
    while read -r ns; do
        [ -n "$ns" ] && ip netns del "$ns" 2>/dev/null
    done < "$file"
    rm -f "$file"
}
