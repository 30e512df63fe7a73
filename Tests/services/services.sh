#!/usr/bin/env bash
# Starts and stops the real services the test suite talks to, and writes their addresses and
# credentials to one env file that the tests read (VORN_TEST_SERVICES_ENV).
#
#   Tests/services/services.sh start [BUILD_DIR [NAME...]]
#                                                  start every service (or those named), write
#                                                  BUILD_DIR/test-services/services.env
#   Tests/services/services.sh stop  [BUILD_DIR]   stop them all by pid and clean up
#
# Each service is one file in services.d/NAME.sh defining start_NAME RUNTIME LOGFILE DATA (and,
# when it leaves more than processes behind, stop_NAME). RUNTIME is the service's folder for
# sockets, pid files, configuration and keys; DATA, in the build tree, is for files the tests
# read back. start_NAME starts its processes with `spawn`, waits with `wait_until`, names each
# Unix socket the tests will connect to with `expect_socket`, then records what the tests need
# with `env_put`; the harness marks it ready only when every named socket accepts a connection.
#
# A Unix socket path holds at most 107 bytes, so no socket may live under the checkout, whose path
# can be of any length: the RUNTIME folders are in one short private folder, /tmp/vorn.XXXXXX
# (mode 0700, its own name for every start, so checkouts running services at once never share
# one), which `stop` removes.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
project="$(cd "$here/../.." && pwd)"
action="${1:-}"
build_dir="$(mkdir -p "${2:-$project/build/test}" && cd "${2:-$project/build/test}" && pwd)"
state="$build_dir/test-services"
env_file="$state/services.env"
# Names the private runtime folder of the running services, so that `stop` finds it.
runtime_record="$state/runtime-folder"

log() { printf '[services] %s\n' "$*" >&2; }

# env_put KEY VALUE: one line of the env file the tests read.
env_put() { printf '%s=%s\n' "$1" "$2" >> "$env_file"; }

# spawn NAME LOGFILE COMMAND...: runs a daemon in its own process group and remembers its pid.
# Its standard input is /dev/null, or the file named by SPAWN_STDIN.
spawn() {
    local name="$1" logfile="$2"; shift 2
    setsid "$@" > "$logfile" 2>&1 < "${SPAWN_STDIN:-/dev/null}" &
    echo $! >> "$state/pids/$name"
}

# expect_socket PATH: a Unix socket the tests will connect to; the service is not ready until it
# accepts a connection.
expect_socket() { printf '%s\n' "$1" >> "$state/sockets/$name"; }

# socket_reachable PATH: whether a client can connect to the Unix socket at PATH (a path too long
# for a socket address is refused, never shortened).
socket_reachable() {
    python3 - "$1" <<'PY'
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.settimeout(5)
try:
    s.connect(sys.argv[1])
except OSError as error:
    sys.exit(f"{sys.argv[1]}: {error}")
PY
}

# wait_until SECONDS COMMAND...: polls COMMAND every 0.1 s until it succeeds or time runs out.
wait_until() {
    local deadline=$(( $(date +%s) + $1 )); shift
    until "$@" > /dev/null 2>&1; do
        if (( $(date +%s) >= deadline )); then return 1; fi
        sleep 0.1
    done
}

kill_recorded() {
    local file pid
    for file in "$state"/pids/*; do
        [ -e "$file" ] || continue
        while read -r pid; do
            [ -n "$pid" ] || continue
            kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null
        done < "$file"
        for _ in $(seq 50); do
            local alive=0
            while read -r pid; do
                [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && alive=1
            done < "$file"
            (( alive )) || break
            sleep 0.1
        done
        while read -r pid; do
            [ -n "$pid" ] && kill -KILL -- "-$pid" 2>/dev/null
        done < "$file"
        rm -f "$file"
    done
}

for file in "$here"/services.d/*.sh; do
    [ -e "$file" ] && source "$file"
done
services=()
for file in "$here"/services.d/*.sh; do
    [ -e "$file" ] && services+=("$(basename "$file" .sh)")
done

# The private runtime folder recorded by the last start, when it is still one this script made.
recorded_runtime() {
    local folder
    [ -f "$runtime_record" ] || return 1
    folder="$(cat "$runtime_record")"
    [[ "$folder" =~ ^/tmp/vorn\.[A-Za-z0-9]{6}$ ]] && [ -d "$folder" ] && [ ! -L "$folder" ] && [ -O "$folder" ] || return 1
    printf '%s' "$folder"
}

stop_all() {
    kill_recorded
    local name folder
    for name in "${services[@]}"; do
        if declare -F "stop_$name" > /dev/null; then "stop_$name" || true; fi
    done
    if folder="$(recorded_runtime)"; then rm -rf -- "$folder"; fi
    rm -f "$env_file" "$runtime_record"
    rm -rf "$state/sockets"
}

case "$action" in
start)
    for wanted in "${@:3}"; do
        [ -f "$here/services.d/$wanted.sh" ] || { log "no service named '$wanted'"; exit 2; }
    done
    mkdir -p "$state/pids" "$state/logs"
    stop_all
    [ "$#" -le 2 ] || services=("${@:3}")
    mkdir -p "$state/pids" "$state/sockets"
    runtime="$(mktemp -d /tmp/vorn.XXXXXX)" || { log "cannot make a private folder in /tmp"; exit 1; }
    chmod 0700 "$runtime"
    printf '%s\n' "$runtime" > "$runtime_record"
    : > "$env_file"
    failed=0
    for name in "${services[@]}"; do
        dir="$runtime/$name" data="$state/$name"
        rm -rf "$data"; mkdir -p "$dir" "$data"
        : > "$state/sockets/$name"
        ready=0
        if ( set -e; "start_$name" "$dir" "$state/logs/$name.log" "$data" ); then
            ready=1
            while read -r socket; do
                [ -n "$socket" ] || continue
                if ! socket_reachable "$socket" >> "$state/logs/$name.log" 2>&1; then
                    echo "$name: started, but its socket $socket cannot be reached" >> "$state/logs/$name.log"
                    ready=0
                fi
            done < "$state/sockets/$name"
        fi
        if (( ready )); then
            upper="$(printf '%s' "$name" | tr 'a-z-' 'A-Z_')"
            env_put "${upper}_READY" 1
            log "$name: ready"
        else
            failed=1
            log "$name: FAILED to start; last lines of $state/logs/$name.log:"
            tail -n 20 "$state/logs/$name.log" >&2 2>/dev/null || true
        fi
    done
    log "env file: $env_file"
    exit "$failed"
    ;;
stop)
    [ -d "$state" ] && stop_all
    log "stopped"
    ;;
*)
    echo "usage: $0 start [BUILD_DIR [NAME...]] | stop [BUILD_DIR]" >&2
    exit 2
    ;;
esac
