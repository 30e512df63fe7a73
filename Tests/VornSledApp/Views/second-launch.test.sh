#!/usr/bin/env bash
# The real program twice: the second launch hands two files to the first one's LAN shelf and
# ends; the first one's LAN server then lists them (read back with curl). Once with a runtime
# folder, once without one, where the socket is in a folder the program makes for its user.
set -euo pipefail
build="$1"
program="$build/Sources/vornsled"
for tool in curl ss; do
    if ! command -v "$tool" > /dev/null; then
        echo "$tool is missing"
        [ "${CI:-}" = "true" ] && exit 1 || exit 77
    fi
done

scratch=""
first=""
cleanup() {
    if [ -n "$first" ]; then kill "$first" 2> /dev/null || true; wait "$first" 2> /dev/null || true; fi
    first=""
    [ -z "$scratch" ] || rm -rf "$scratch"
}
trap cleanup EXIT

for folder in runtime private; do
    scratch="$(mktemp -d)"
    export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config"
    export XDG_DATA_HOME="$scratch/data" QT_QPA_PLATFORM=offscreen
    if [ "$folder" = runtime ]; then
        mkdir -m 700 "$scratch/run"
        export XDG_RUNTIME_DIR="$scratch/run"
        socket="$XDG_RUNTIME_DIR/com.vornworks.vornsled.socket"
    else
        unset XDG_RUNTIME_DIR
        mkdir -m 1777 "$scratch/tmp"
        export TMPDIR="$scratch/tmp"
        socket="$TMPDIR/com.vornworks.vornsled-$(id -u)/com.vornworks.vornsled.socket"
    fi
    mkdir -p "$HOME" "$scratch/files"
    printf 'first file\n' > "$scratch/files/alpha.txt"
    printf 'second file with a space\n' > "$scratch/files/beta gamma.txt"

    "$program" > "$scratch/first.log" 2>&1 &
    first=$!

    # The first launch is ready once its socket and its LAN port are there.
    port=""
    for _ in $(seq 1 600); do
        if [ -S "$socket" ]; then
            port="$(ss -ltnpH | grep "pid=$first," | awk '{print $4}' | sed 's/.*://' | head -n 1)"
            [ -n "$port" ] && break
        fi
        kill -0 "$first" 2> /dev/null || { cat "$scratch/first.log"; echo "the first launch ended"; exit 1; }
        sleep 0.1
    done
    [ -n "$port" ] || { cat "$scratch/first.log"; echo "the first launch never listened"; exit 1; }

    # The launch is in the program's log, with the system it runs on.
    launched=""
    for _ in $(seq 1 600); do
        launched="$(grep -rhs '"category":"lifecycle"' "$XDG_DATA_HOME/Vornworks/VornSled/logs" || true)"
        [ -n "$launched" ] && break
        sleep 0.1
    done
    grep -q '"message":"VornSled v[^"]* launched (Linux [^"]*)"' <<< "$launched" || { echo "log: $launched"; exit 1; }

    # Relative names are resolved against the second launch's own folder. The launch returns: it
    # handed its files over instead of opening a window of its own.
    (cd "$scratch/files" && timeout 60 "$program" alpha.txt "beta gamma.txt")
    kill -0 "$first" || { echo "the first launch ended"; exit 1; }

    shares=""
    for _ in $(seq 1 600); do
        shares="$(curl -s --noproxy '*' "http://127.0.0.1:$port/api/v1/shares" || true)"
        if grep -q '"alpha.txt"' <<< "$shares" && grep -q '"beta gamma.txt"' <<< "$shares"; then
            break
        fi
        sleep 0.1
    done
    grep -q "\"filePath\":\"$scratch/files/alpha.txt\"" <<< "$shares" || { echo "shelf: $shares"; exit 1; }
    grep -q "\"filePath\":\"$scratch/files/beta gamma.txt\"" <<< "$shares" || { echo "shelf: $shares"; exit 1; }
    [ "$(stat -c '%a %u' "$(dirname "$socket")")" = "700 $(id -u)" ] || { echo "socket folder: $(stat -c '%a %u' "$(dirname "$socket")")"; exit 1; }
    echo "the second launch forwarded both files ($folder folder)"
    cleanup
done
