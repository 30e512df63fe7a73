# An S3-compatible server on 127.0.0.1 that verifies SigV4 header and presigned signatures
# (a wrong secret or a tampered link gets 403). Installed by `npm ci` in Tests/services/npm/s3rver.
start_s3() {
    local dir="$1" logfile="$2" data="$3"
    local npm_dir="$project/Tests/services/npm/s3rver"
    if [ ! -d "$npm_dir/node_modules/@20minutes/s3rver" ]; then
        echo "the S3 test server is not installed: run scripts/setup.sh --test" >> "$logfile"
        return 1
    fi
    local access_key="VORNTESTACCESSKEY01" secret_key="vorn/Test+Secret/Key0123456789abcdefghij"
    mkdir -p "$data/objects"
    # Its paged listings use DES for continuation tokens, which Node 20 only has in the legacy provider.
    spawn s3 "$logfile" env NODE_OPTIONS=--openssl-legacy-provider S3_ACCESS_KEY="$access_key" \
        S3_SECRET_KEY="$secret_key" S3_BUCKET=testbucket S3_DATA_DIR="$data/objects" S3_PORT_FILE="$dir/port" \
        node "$npm_dir/start.js"
    wait_until 30 test -s "$dir/port"
    local port
    port="$(cat "$dir/port")"
    env_put S3_ENDPOINT "http://127.0.0.1:$port"
    env_put S3_ACCESS_KEY "$access_key"
    env_put S3_SECRET_KEY "$secret_key"
    env_put S3_BUCKET testbucket
    env_put S3_REGION us-east-1
}
