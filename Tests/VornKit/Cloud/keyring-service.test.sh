#!/usr/bin/env bash
# The keyring service of the test harness, started from build folders whose paths are far longer
# than a Unix socket address allows, twice at once: each start gets its own short private folder
# for its bus, the bus answers with the Secret Service on it, and stop takes the folder away
# without touching the other start's.
set -euo pipefail
project="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)"
services="$project/Tests/services/services.sh"

for tool in dbus-daemon gnome-keyring-daemon gdbus python3; do
    if ! command -v "$tool" > /dev/null; then
        [ "${CI:-}" = true ] && { echo "FAIL: $tool is missing (CI=true)" >&2; exit 1; }
        echo "$tool is missing: scripts/setup.sh --test installs it" >&2
        exit 77
    fi
done

fail() { echo "FAIL: $*" >&2; exit 1; }
work="$(mktemp -d)"
long="$work/$(printf 'a%.0s' $(seq 70))/$(printf 'b%.0s' $(seq 70))"
builds=("$long/first/build" "$long/second/build")
trap 'for b in "${builds[@]}"; do bash "$services" stop "$b" > /dev/null 2>&1 || true; done; rm -rf "$work"' EXIT

value() { sed -n "s/^$2=//p" "$1/test-services/services.env" | tail -n 1; }
folders=()
for build in "${builds[@]}"; do
    bash "$services" start "$build" keyring 2> "$work/start.log" || { cat "$work/start.log" >&2; fail "keyring did not start"; }
    [ "$(value "$build" KEYRING_READY)" = 1 ] || fail "keyring not reported ready"
    [ "$(grep -c '_READY=' "$build/test-services/services.env")" = 1 ] || fail "more than the keyring was started"
    address="$(value "$build" KEYRING_DBUS_ADDRESS)"
    socket="${address#unix:path=}"
    folder="$(cat "$build/test-services/runtime-folder")"
    [[ "$socket" == "$folder"/* ]] || fail "the bus $socket is not in the private folder $folder"
    (( ${#socket} <= 107 )) || fail "the bus path $socket is too long for a socket address"
    [ "$(stat -c %a "$folder")" = 700 ] || fail "$folder is not private"
    DBUS_SESSION_BUS_ADDRESS="$address" gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
        -m org.freedesktop.DBus.NameHasOwner org.freedesktop.secrets | grep -q true || fail "no Secret Service on $address"
    folders+=("$folder")
done
[ "${folders[0]}" != "${folders[1]}" ] || fail "two starts share ${folders[0]}"

bash "$services" stop "${builds[0]}" 2> /dev/null
[ ! -e "${folders[0]}" ] || fail "stop left ${folders[0]} behind"
[ ! -e "${builds[0]}/test-services/services.env" ] || fail "stop left the env file behind"
DBUS_SESSION_BUS_ADDRESS="$(value "${builds[1]}" KEYRING_DBUS_ADDRESS)" gdbus call --session -d org.freedesktop.DBus \
    -o /org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner org.freedesktop.secrets | grep -q true ||
    fail "stopping one start ended the other's keyring"
bash "$services" stop "${builds[1]}" 2> /dev/null
[ ! -e "${folders[1]}" ] || fail "stop left ${folders[1]} behind"
echo "keyring service at a long build path: ok"
