#!/usr/bin/env bash
# Uploads and downloads one large file and many small files through the transfer engine (4 workers,
# SHA-256 verified) against a local S3 test server, beside `rclone copy` and `aws s3 cp --recursive`
# on the same server, then lists one folder of many keys beside `rclone lsf`. Prints each time and
# the ratio ours / peer (below 1: we are faster). Each contender runs once.
#
#   bench/s3/run.sh           256 MiB large file, 1,000 files of 64 KiB, 10,000 keys to list
#   bench/s3/run.sh --big     1 GiB large file, 1,000 files of 1 MiB, 10,000 keys to list
#
# Its peers rclone and the AWS command-line client, node and the S3 test server are installed
# first by scripts/setup.sh --bench, as for the tests.
set -euo pipefail
cd "$(dirname "$0")/../.."
project="$PWD"
bash scripts/setup.sh --bench

large_mib=256 small_count=1000 small_kib=64 list_keys=10000
if [ "${1:-}" = "--big" ]; then large_mib=1024 small_kib=1024; fi

for tool in node rclone; do
    command -v "$tool" >/dev/null || { echo "bench/s3 needs $tool" >&2; exit 1; }
done
# The Debian package's client, not one that a Python version manager may put first on PATH.
[ -x /usr/bin/aws ] || { echo "bench/s3 needs the AWS command-line client (scripts/setup.sh --bench installs it)" >&2; exit 1; }
npm_dir="$project/Tests/services/npm/s3rver"
[ -d "$npm_dir/node_modules/@20minutes/s3rver" ] ||
    npm ci --prefix "$npm_dir" --no-audit --no-fund --loglevel=error

cmake --preset release >/dev/null
cmake --build --preset release --target bench_s3 >/dev/null
ours="$project/build/release/bench/bench_s3"

work="$(mktemp -d "${TMPDIR:-/tmp}/vorn-bench-s3.XXXXXX")"
server_pid=""
# Keeps the run's own status: the server ends by our signal, which `wait` reports as a failure
# that must not become the status of a good run.
cleanup() {
    local status=$?
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT

# The S3 test server, on a port the system picks.
export S3_ACCESS_KEY=VORNBENCHACCESSKEY1 S3_SECRET_KEY="vorn/Bench+Secret/Key0123456789abcdefghij"
export S3_BUCKET=benchbucket S3_REGION=us-east-1
mkdir -p "$work/data"
NODE_OPTIONS=--openssl-legacy-provider S3_DATA_DIR="$work/data" S3_PORT_FILE="$work/port" \
    node "$npm_dir/start.js" > "$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 300); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "the S3 test server did not start:" >&2; cat "$work/server.log" >&2; exit 1; }
export S3_ENDPOINT="http://127.0.0.1:$(cat "$work/port")"

# Peers talk to the same server, with the same parallelism, straight (no proxy, no CA bundle).
cat > "$work/rclone.conf" <<EOF
[bench]
type = s3
provider = Other
env_auth = false
access_key_id = $S3_ACCESS_KEY
secret_access_key = $S3_SECRET_KEY
endpoint = $S3_ENDPOINT
region = $S3_REGION
force_path_style = true
EOF
cat > "$work/aws.conf" <<EOF
[default]
region = $S3_REGION
s3 =
    max_concurrent_requests = 4
    addressing_style = path
EOF
cat > "$work/aws.credentials" <<EOF
[default]
aws_access_key_id = $S3_ACCESS_KEY
aws_secret_access_key = $S3_SECRET_KEY
EOF
peer_env=(env -u AWS_CA_BUNDLE -u http_proxy -u https_proxy -u HTTP_PROXY -u HTTPS_PROXY
          RCLONE_CONFIG="$work/rclone.conf" AWS_CONFIG_FILE="$work/aws.conf"
          AWS_SHARED_CREDENTIALS_FILE="$work/aws.credentials")
rclone_run() { "${peer_env[@]}" rclone --transfers 4 --checkers 4 "$@"; }
# The test server answers a multipart completion only once (it removes the parts as it answers);
# on a busy machine joining 256 MiB can outlast aws's 60 s read timeout, and its retry then fails.
aws_run() { "${peer_env[@]}" /usr/bin/aws --endpoint-url "$S3_ENDPOINT" --cli-read-timeout 600 --no-progress "$@"; }

echo "[bench/s3] making test data in $work"
mkdir -p "$work/src/large" "$work/src/small" "$work/src/list"
head -c "$((large_mib * 1024 * 1024))" /dev/urandom > "$work/src/large/large.bin"
head -c "$((small_count * small_kib * 1024))" /dev/urandom |
    split -b "$((small_kib * 1024))" -d -a 4 - "$work/src/small/file-"
head -c "$list_keys" /dev/urandom | split -b 1 -d -a 5 - "$work/src/list/key-"

# seconds LABEL COMMAND...: runs the command once, prints and remembers its wall time.
declare -A took
seconds() {
    local label="$1"; shift
    local start end
    start=$(date +%s.%N)
    if ! "$@" > "$work/last.log" 2>&1; then
        echo "[bench/s3] $label failed:" >&2; tail -n 20 "$work/last.log" >&2; exit 1
    fi
    end=$(date +%s.%N)
    took[$label]=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
}

bucket="$S3_BUCKET"
for set in large small; do
    seconds "vornsled upload $set" "$ours" upload "$work/src/$set" "/vorn/$set" 4
    seconds "rclone upload $set" rclone_run copy "$work/src/$set" "bench:$bucket/rclone/$set"
    seconds "aws upload $set" aws_run s3 cp --recursive "$work/src/$set" "s3://$bucket/aws/$set"
    seconds "vornsled download $set" "$ours" download "/vorn/$set" "$work/dst/vorn-$set" 4
    seconds "rclone download $set" rclone_run copy "bench:$bucket/rclone/$set" "$work/dst/rclone-$set"
    seconds "aws download $set" aws_run s3 cp --recursive "s3://$bucket/aws/$set" "$work/dst/aws-$set"
    for who in vorn rclone aws; do
        if ! diff -rq "$work/src/$set" "$work/dst/$who-$set" >/dev/null; then
            echo "[bench/s3] $who's download of $set differs from the source" >&2; exit 1
        fi
    done
done

"$ours" upload "$work/src/list" /vorn/list 8 > /dev/null
seconds "vornsled list" "$ours" list /vorn/list
seconds "rclone list" rclone_run lsf "bench:$bucket/vorn/list"
[ "$(cat "$work/last.log" | wc -l)" = "$list_keys" ] || { echo "[bench/s3] rclone listed a different count" >&2; exit 1; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
echo
echo "S3 benchmark: large file ${large_mib} MiB; ${small_count} small files of ${small_kib} KiB; ${list_keys} keys listed"
printf '%-16s %10s %10s %10s %14s %14s\n' "case" "vornsled" "rclone" "aws" "vs rclone" "vs aws"
for set in large small; do
    for dir in upload download; do
        v=${took["vornsled $dir $set"]} r=${took["rclone $dir $set"]} a=${took["aws $dir $set"]}
        printf '%-16s %9ss %9ss %9ss %14s %14s\n' "$dir $set" "$v" "$r" "$a" "$(ratio "$v" "$r")" "$(ratio "$v" "$a")"
    done
done
v=${took["vornsled list"]} r=${took["rclone list"]}
printf '%-16s %9ss %9ss %10s %14s %14s\n' "list ${list_keys}" "$v" "$r" "-" "$(ratio "$v" "$r")" "-"

# Uploads hash and send from one open file; they hold within 10 % of what they took before that
# (0.39 x rclone for the large file, 0.92 x for the small files).
goal() {  # label, ours, peer, highest ratio
    local r
    r="$(ratio "$2" "$3")"
    printf '%-44s %6s (goal: at most %s)  %s\n' "$1" "$r" "$4" \
        "$(awk -v r="$r" -v g="$4" 'BEGIN { print (r != "-" && r <= g) ? "ok" : "missed" }')"
}
goal "upload large, vornsled / rclone" "${took["vornsled upload large"]}" "${took["rclone upload large"]}" 0.43
goal "upload small, vornsled / rclone" "${took["vornsled upload small"]}" "${took["rclone upload small"]}" 1.01
