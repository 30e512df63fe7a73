#!/usr/bin/env bash
# Starts and stops the real services the test suite talks to, and writes their addresses and
# credentials to one env file that the tests read (VORN_TEST_SERVICES_ENV).
#
#   Tests/services/services.sh start [BUILD_DIR]   start every service, write BUILD_DIR/test-services/services.env
#   Tests/services/services.sh stop  [BUILD_DIR]   stop them all by pid and clean up
#
# Each service is one file in services.d/NAME.sh defining start_NAME (and, when it leaves more
# than processes behind, stop_NAME). start_NAME starts its processes with `spawn`, waits with
# `wait_until`, then records what the tests need with `env_put`; the harness marks it ready.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
project="$(cd "$here/../.." && pwd)"
action="${1:-}"
build_dir="$(mkdir -p "${2:-$project/build/test}" && cd "${2:-$project/build/test}" && pwd)"
state="$build_dir/test-services"
env_file="$state/services.env"

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

stop_all() {
    kill_recorded
    local name
    for name in "${services[@]}"; do
        if declare -F "stop_$name" > /dev/null; then "stop_$name" || true; fi
    done
    rm -f "$env_file"
}

case "$action" in
start)
    mkdir -p "$state/pids" "$state/logs"
    stop_all
    mkdir -p "$state/pids"
    : > "$env_file"
    failed=0
    for name in "${services[@]}"; do
        dir="$state/$name"
        rm -rf "$dir"; mkdir -p "$dir"
        if ( set -e; "start_$name" "$dir" "$state/logs/$name.log" ); then
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
    echo "usage: $0 start|stop [BUILD_DIR]" >&2
    exit 2
    ;;
esac
