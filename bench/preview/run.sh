#!/usr/bin/env bash
# The sync preview of a remote tree (walk both sides and plan, through the workspace model) beside
# rclone's dry runs on the same trees, with the server behind a link that adds a one-way delay: a
# relay on a loopback port in front of the suite's sshd and S3 server holds each chunk, and each
# new connection, for the delay in each direction, and counts connections. Prints each time, the
# ratio ours / the peer's fastest mode (below 1: we are faster), the connections each made, and
# the goal lines.
#
#   bench/preview/run.sh [--quick] [--delays "0 10 40"] [--cap SECONDS] [--cases "sftp tree,s3 tree"]
#
# Cases: "tree" — 2,000 folders of 5 small files, the same on both sides with the same times;
# "uploaded" — the same tree put in the bucket by the program itself, so the bucket's times are
# upload times (the peer compares checksums); "excluded" — 200 folders of 5 files beside a
# node_modules folder of 5,000 files that the preview excludes. --quick uses a tenth of each tree.
# A case that outlasts --cap (default 300 s) is stopped and counts as missed.
set -euo pipefail
project="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
here="$project/bench/preview"
bash "$project/scripts/setup.sh" --bench

delays=(0 10 40) cap=300 scale=1 chosen=()
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) scale=10 ;;
        --delays) read -r -a delays <<< "$2"; shift ;;
        --cap) cap="$2"; shift ;;
        --cases) IFS=, read -r -a chosen <<< "$2"; shift ;;
        *) echo "usage: $0 [--quick] [--delays \"0 10 40\"] [--cap SECONDS] [--cases \"sftp tree,s3 uploaded\"]" >&2
           exit 2 ;;
    esac
    shift
done
command -v rclone > /dev/null || { echo "bench/preview needs rclone" >&2; exit 1; }
# The Debian package's interpreter: one that a Python version manager puts first on PATH can take
# seconds to start on a busy machine.
python=/usr/bin/python3
npm_dir="$project/Tests/services/npm/s3rver"
[ -d "$npm_dir/node_modules/@20minutes/s3rver" ] ||
    npm ci --prefix "$npm_dir" --no-audit --no-fund --loglevel=error

(cd "$project" && cmake --preset release > /dev/null &&
    cmake --build --preset release --target bench_preview bench_s3 > /dev/null)
ours="$project/build/release/bench/bench_preview"
uploader="$project/build/release/bench/bench_s3"

state="$project/build/bench-preview"
work="" relays=()
cleanup() {
    local status=$?
    for pid in "${relays[@]}"; do kill "$pid" 2> /dev/null || true; wait "$pid" 2> /dev/null || true; done
    bash "$project/Tests/services/services.sh" stop "$state" > /dev/null 2>&1 || true
    [ -z "$work" ] || rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
bash "$project/Tests/services/services.sh" start "$state" sshd s3 > /dev/null 2>&1 || true
env_file="$state/test-services/services.env"
value() { sed -n "s/^$1=//p" "$env_file" | tail -n 1; }
[ "$(value SSHD_READY)" = 1 ] || { echo "the sshd test service did not start" >&2; exit 1; }
[ "$(value S3_READY)" = 1 ] || { echo "the S3 test service did not start" >&2; exit 1; }
ssh_port="$(value SSHD_PORT)" user="$(value SSHD_USER)" key="$(value SSHD_KEY)" home="$(value SSHD_HOME)"
s3_endpoint="$(value S3_ENDPOINT)"
export S3_ACCESS_KEY="$(value S3_ACCESS_KEY)" S3_SECRET_KEY="$(value S3_SECRET_KEY)"
export S3_BUCKET="$(value S3_BUCKET)" S3_REGION="$(value S3_REGION)"

work="$(mktemp -d "${TMPDIR:-/tmp}/vorn-bench-preview.XXXXXX")"
export DELAY_FILE="$work/delay"
echo 0 > "$DELAY_FILE"
# relay NAME TARGET_PORT: starts a relay, sets relay_NAME to the port it listens on.
relay() {
    "$python" "$here/delay-relay.py" "$work/$1.port" "$2" "$work/$1.count" &
    relays+=($!)
    for _ in $(seq 100); do [ -s "$work/$1.port" ] && break; sleep 0.1; done
    [ -s "$work/$1.port" ] || { echo "the delay relay did not start" >&2; exit 1; }
    printf -v "relay_$1" '%s' "$(cat "$work/$1.port")"
}
relay ssh "$ssh_port"
relay s3 "${s3_endpoint##*:}"
# The relay's port carries the server's own host key.
echo "[127.0.0.1]:$relay_ssh $(cut -d' ' -f2,3 < "$(value SSHD_KNOWN_HOSTS)")" > "$work/known_hosts"
relay_endpoint="http://127.0.0.1:$relay_s3"

export RCLONE_CONFIG="$work/rclone.conf"
cat > "$RCLONE_CONFIG" <<CONF
[loop]
type = sftp
host = 127.0.0.1
port = $relay_ssh
user = $user
key_file = $key
known_hosts_file = $work/known_hosts
shell_type = unix
md5sum_command = md5sum
sha1sum_command = sha1sum

[bucket]
type = s3
provider = Other
env_auth = false
access_key_id = $S3_ACCESS_KEY
secret_access_key = $S3_SECRET_KEY
endpoint = $relay_endpoint
region = $S3_REGION
force_path_style = true
CONF
peer_env=(env -u AWS_CA_BUNDLE -u http_proxy -u https_proxy -u HTTP_PROXY -u HTTPS_PROXY)

# tree FOLDER TOPS SUBS: TOPS x SUBS folders of 5 small files each.
tree() {
    "$python" - "$1" "$2" "$3" <<'PY'
import os, sys
root, tops, subs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for t in range(tops):
    for s in range(subs):
        folder = os.path.join(root, f"part{t:02d}", f"section{s:03d}")
        os.makedirs(folder, exist_ok=True)
        for f in range(5):
            with open(os.path.join(folder, f"page{f}.html"), "w") as out:
                out.write(f"<p>{t}/{s}/{f}</p>\n" * (1 + f))
PY
}
echo "[bench/preview] making the trees in $work"
tree "$work/tree" 40 $((50 / scale))
tree "$work/excluded" 10 $((20 / scale))
tree "$work/excluded/node_modules" $((25 / scale)) 40   # 5,000 files (500 with --quick)
folders=$(find "$work/tree" -type d | wc -l) files=$(find "$work/tree" -type f | wc -l)

# The server's copies: the same files with the same times.
for set in tree excluded; do
    rm -rf "$home/preview-$set"
    cp -a "$work/$set" "$home/preview-$set"
    chown -R "$user" "$home/preview-$set"
done
s3_straight() { "${peer_env[@]}" S3_ENDPOINT="$s3_endpoint" "$@"; }
for set in tree excluded; do
    "${peer_env[@]}" rclone copy --transfers 16 --s3-endpoint "$s3_endpoint" "$work/$set" "bucket:$S3_BUCKET/$set"
    cp -a "$work/$set" "$work/$set-stamped"
    stamped="$(s3_straight "$ours" stamp "$work/$set-stamped" "/$set" 2> /dev/null)"
    [ "$stamped" = "$(find "$work/$set" -type f | wc -l)" ] ||
        { echo "[bench/preview] only $stamped file(s) of $set were given their object's time" >&2; exit 1; }
done
s3_straight "$uploader" upload "$work/tree" /uploaded 8 > /dev/null

declare -A took rows same conns notes
# measure KEY COUNTER COMMAND...: runs the command once under the cap; remembers its wall time and
# the connections the relay saw. Ours prints "SECONDS ROWS IDENTICAL".
measure() {
    local label="$1" counter="$2"; shift 2
    local before start end status=0
    before="$(cat "$work/$counter.count")"
    start=$(date +%s.%N)
    timeout -k 10 "$cap" "$@" > "$work/last.out" 2> "$work/last.err" || status=$?
    end=$(date +%s.%N)
    conns[$label]=$(( $(cat "$work/$counter.count") - before ))
    if [ "$status" = 124 ] || [ "$status" = 137 ]; then
        took[$label]="capped"; return
    elif [ "$status" != 0 ]; then
        echo "[bench/preview] $label failed:" >&2; tail -n 5 "$work/last.err" >&2
        took[$label]="failed"; return
    fi
    took[$label]=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
    if [[ "$label" == ours* ]]; then
        local seconds planned identical
        read -r seconds planned identical < "$work/last.out"
        rows[$label]="$planned" same[$label]="$identical"
        [ "$planned" = "$identical" ] || { echo "    $label: not identical:"; sed 's/^/      /' "$work/last.err"; }
    else
        # What the peer would have copied or deleted, each a notice of the dry run.
        notes[$label]=$(grep -c 'Skipped \(copy\|delete\)' "$work/last.err" || true)
    fi
}

ssh_args=(127.0.0.1 "$relay_ssh" "$user" "$key" "$work/known_hosts")
cases=("sftp tree" "sftp excluded" "s3 tree" "s3 uploaded" "s3 excluded")
[ "${#chosen[@]}" -eq 0 ] || cases=("${chosen[@]}")
for delay in "${delays[@]}"; do
    echo "$delay" > "$DELAY_FILE"
    echo "[bench/preview] one-way delay $delay ms"
    for c in "${cases[@]}"; do
        read -r kind set <<< "$c"
        excluded=() peer_excluded=()
        if [ "$set" = excluded ]; then excluded=(node_modules) peer_excluded=(--exclude "node_modules/**"); fi
        k="$kind $set $delay"
        if [ "$kind" = sftp ]; then
            measure "ours $k" ssh "$ours" sftp "${ssh_args[@]}" "$work/$set" "$home/preview-$set" "${excluded[@]}"
            measure "rclone $k" ssh "${peer_env[@]}" rclone sync --dry-run "${peer_excluded[@]}" \
                "$work/$set" "loop:$home/preview-$set"
            continue
        fi
        local_side="$work/$set-stamped" remote="$set"
        mode=(--use-server-modtime)
        if [ "$set" = uploaded ]; then
            local_side="$work/tree" remote=uploaded
            mode=(--checksum)
        fi
        measure "ours $k" s3 env S3_ENDPOINT="$relay_endpoint" "$ours" s3 "$local_side" "/$remote" "${excluded[@]}"
        measure "rclone $k" s3 "${peer_env[@]}" rclone sync --dry-run "${mode[@]}" "${peer_excluded[@]}" \
            "$local_side" "bucket:$S3_BUCKET/$remote"
        measure "rclone-fast $k" s3 "${peer_env[@]}" rclone sync --dry-run --fast-list "${mode[@]}" \
            "${peer_excluded[@]}" "$local_side" "bucket:$S3_BUCKET/$remote"
    done
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a ~ /^[0-9.]+$/ && b ~ /^[0-9.]+$/ && b > 0) printf "%.2f", a / b; else print "-" }'; }
fastest() {  # the smaller of two times, either of which may be missing
    awk -v a="$1" -v b="${2:--}" 'BEGIN { if (b !~ /^[0-9.]+$/ || (a ~ /^[0-9.]+$/ && a + 0 <= b + 0)) print a; else print b }'
}
echo
echo "Remote preview: tree $folders folders, $files files; excluded: $(find "$work/excluded" -path '*/node_modules' -prune -o -type f -print | wc -l) files beside node_modules of $(find "$work/excluded/node_modules" -type f | wc -l)"
echo "Ours: the workspace model's preview with subfolders (login included). Peers: rclone sync --dry-run, for S3"
echo "with server times (--checksum for the uploaded tree), 8 listings at once and with --fast-list. Cap ${cap} s."
printf '%-22s %10s %7s %10s %10s %7s %12s %8s %8s\n' "case" "vornsled" "conns" "rclone" "fast-list" "conns" "vs fastest" "rows" "same"
for delay in "${delays[@]}"; do
    for c in "${cases[@]}"; do
        k="$c $delay"
        v="${took["ours $k"]}" r="${took["rclone $k"]}" f="${took["rclone-fast $k"]:--}"
        best="$(fastest "$r" "$f")"
        printf '%-22s %10s %7s %10s %10s %7s %12s %8s %8s\n' "$c ${delay}ms" "$v" "${conns["ours $k"]}" "$r" "$f" \
            "${conns["rclone $k"]}" "$(ratio "$v" "$best")" "${rows["ours $k"]:--}" "${same["ours $k"]:--}"
        [ "${notes["rclone $k"]:-0}" = 0 ] || echo "    (rclone saw ${notes["rclone $k"]} file(s) to change)"
    done
done
echo "(ratios are our time over the peer's fastest mode: below 1 is faster)"
goal() {  # label, ours, peer, highest ratio
    local r
    r="$(ratio "$2" "$3")"
    printf '%-44s %6sx (goal: at most %s)  %s\n' "$1" "$r" "$4" \
        "$(awk -v r="$r" -v g="$4" 'BEGIN { print (r != "-" && r <= g) ? "ok" : "missed" }')"
}
for delay in "${delays[@]}"; do
    for c in "${cases[@]}"; do
        k="$c $delay"
        goal "$c ${delay}ms, vornsled / fastest peer" "${took["ours $k"]}" \
            "$(fastest "${took["rclone $k"]}" "${took["rclone-fast $k"]:-}")" 1.0
        n="${rows["ours $k"]:-}" s="${same["ours $k"]:-}"
        printf '%-44s %6s/%-6s (goal: every row "Identical")  %s\n' "$c ${delay}ms, plan" "${s:--}" "${n:--}" \
            "$( [ -n "$n" ] && [ "$n" -gt 0 ] && [ "$n" = "$s" ] && echo ok || echo missed)"
    done
done
