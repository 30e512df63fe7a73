#!/usr/bin/env bash
# Upload and download through the transfer engine with the SFTP provider (4 workers, SHA-256
# verified) beside OpenSSH sftp batch put/get and rclone copy, on the same data against the
# loopback sshd of the test services, in one run; prints times and ratios.
#
#   bench/sftp/run.sh [--full]    default: one 32 MiB file and 100 files of 320 KiB
#                                 --full:  one 200 MiB file and 500 files (200 MiB in all)
# Builds the release preset's bench_sftp (VORN_BENCH_SFTP names another build of it) and needs root
# (the sshd service makes a test user).
set -euo pipefail

project="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
# What it is measured beside, and the sshd it runs against, are installed first, as for the tests.
bash "$project/scripts/setup.sh" --bench
bench="${VORN_BENCH_SFTP:-}"
if [ -z "$bench" ]; then
    (cd "$project" && cmake --preset release > /dev/null && cmake --build --preset release --target bench_sftp > /dev/null)
    bench="$project/build/release/bench/bench_sftp"
fi

big_mib=32 small_count=100
if [ "${1:-}" = "--full" ]; then big_mib=200 small_count=500; fi
small_kib=$(( big_mib * 1024 / small_count ))
workers=4

state="$project/build/bench-sftp"
work=""
bash "$project/Tests/services/services.sh" start "$state" sshd > /dev/null 2>&1 || true
trap 'bash "$project/Tests/services/services.sh" stop "$state" > /dev/null 2>&1; [ -z "$work" ] || rm -rf "$work"' EXIT
env_file="$state/test-services/services.env"
value() { sed -n "s/^$1=//p" "$env_file" | tail -n 1; }
[ "$(value SSHD_READY)" = 1 ] || { echo "the sshd test service did not start" >&2; exit 1; }
host="$(value SSHD_HOST)" port="$(value SSHD_PORT)" user="$(value SSHD_USER)"
key="$(value SSHD_KEY)" known_hosts="$(value SSHD_KNOWN_HOSTS)" home="$(value SSHD_HOME)"

work="$(mktemp -d)"
mkdir -p "$work/one" "$work/many"
head -c "$(( big_mib * 1048576 ))" /dev/urandom > "$work/one/big.bin"
for i in $(seq 1 "$small_count"); do head -c "$(( small_kib * 1024 ))" /dev/urandom > "$work/many/f$i.bin"; done

ssh_opts=(-F /dev/null -o UserKnownHostsFile="$known_hosts" -o BatchMode=yes -i "$key")
export RCLONE_CONFIG="$work/rclone.conf"
cat > "$RCLONE_CONFIG" <<CONF
[loop]
type = sftp
host = $host
port = $port
user = $user
key_file = $key
known_hosts_file = $known_hosts
shell_type = unix
md5sum_command = md5sum
sha1sum_command = sha1sum
CONF

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
fresh() { rm -rf "$home/$1"; runuser -u "$user" -- mkdir -p "$home/$1"; }
declare -A t

for set in one many; do
    # Ours: upload with the engine, then download into an empty folder.
    fresh "vorn-$set"
    t[vorn_up_$set]="$("$bench" upload "$host" "$port" "$user" "$key" "$known_hosts" "$work/$set" "$home/vorn-$set" "$workers")"
    mkdir -p "$work/back-vorn-$set"
    t[vorn_down_$set]="$("$bench" download "$host" "$port" "$user" "$key" "$known_hosts" "$work/back-vorn-$set" "$home/vorn-$set" "$workers")"
    diff -r "$work/$set" "$work/back-vorn-$set" > /dev/null

    # OpenSSH sftp: one batch, one connection, files one after another.
    fresh "sftp-$set"
    start="$(now)"
    printf 'put %s/* %s/\n' "$work/$set" "$home/sftp-$set" > "$work/put.batch"
    sftp "${ssh_opts[@]}" -P "$port" -b "$work/put.batch" "$user@$host" > /dev/null
    t[sftp_up_$set]="$(since "$start")"
    mkdir -p "$work/back-sftp-$set"
    start="$(now)"
    printf 'get %s/* %s/\n' "$home/sftp-$set" "$work/back-sftp-$set" > "$work/get.batch"
    sftp "${ssh_opts[@]}" -P "$port" -b "$work/get.batch" "$user@$host" > /dev/null
    t[sftp_down_$set]="$(since "$start")"
    diff -r "$work/$set" "$work/back-sftp-$set" > /dev/null

    # rclone copy with 4 transfers; it checks each file's hash on the server as it goes.
    fresh "rclone-$set"
    start="$(now)"
    rclone copy --transfers "$workers" "$work/$set" "loop:$home/rclone-$set"
    t[rclone_up_$set]="$(since "$start")"
    start="$(now)"
    rclone copy --transfers "$workers" "loop:$home/rclone-$set" "$work/back-rclone-$set"
    t[rclone_down_$set]="$(since "$start")"
    diff -r "$work/$set" "$work/back-rclone-$set" > /dev/null
    rm -rf "$home/vorn-$set" "$home/sftp-$set" "$home/rclone-$set"
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "Each tool runs once on the same data against the loopback sshd: our engine (SHA-256 verified, $workers workers),"
echo "one OpenSSH sftp batch on one connection, rclone copy with $workers transfers; wall time of each command."
printf '%-34s %9s %9s %9s %12s %14s\n' "data ($workers workers)" "vornsled" "sftp" "rclone" "vs sftp" "vs rclone"
for set in one many; do
    label="1 x ${big_mib} MiB"
    [ "$set" = many ] && label="$small_count x ${small_kib} KiB"
    for dir in up down; do
        v="${t[vorn_${dir}_$set]}" s="${t[sftp_${dir}_$set]}" r="${t[rclone_${dir}_$set]}"
        printf '%-34s %8.2fs %8.2fs %8.2fs %11sx %13sx\n' "$label $dir" "$v" "$s" "$r" "$(ratio "$v" "$s")" "$(ratio "$v" "$r")"
    done
done
echo "(ratios are our time over theirs: below 1 is faster)"
goal() {  # label, ours, peer, highest ratio
    local r
    r="$(ratio "$2" "$3")"
    printf '%-44s %6sx (goal: at most %s)  %s\n' "$1" "$r" "$4" \
        "$(awk -v r="$r" -v g="$4" 'BEGIN { print (r <= g) ? "ok" : "missed" }')"
}
many="$small_count x ${small_kib} KiB"
for dir in up down; do
    goal "$many $dir, vornsled / rclone" "${t[vorn_${dir}_many]}" "${t[rclone_${dir}_many]}" 1.0
    goal "$many $dir, vornsled / sftp batch" "${t[vorn_${dir}_many]}" "${t[sftp_${dir}_many]}" 1.5
done
for dir in up down; do
    goal "1 x ${big_mib} MiB $dir, vornsled / sftp batch" "${t[vorn_${dir}_one]}" "${t[sftp_${dir}_one]}" 1.3
done
