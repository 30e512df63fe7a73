#!/usr/bin/env bash
# The loopback sshd of the test services: key login with the pinned host key, password login
# through an ask-pass program, and an sftp batch that puts a file into the user's home and gets
# it back unchanged.
set -euo pipefail

env_file="${VORN_TEST_SERVICES_ENV:-${1:-build/test}/test-services/services.env}"
value() { sed -n "s/^$1=//p" "$env_file" 2>/dev/null | tail -n 1; }
if [ "$(value SSHD_READY)" != 1 ]; then
    if [ "${CI:-}" = true ]; then
        echo "test service 'sshd' is not running (CI=true)" >&2
        exit 1
    fi
    echo "test service 'sshd' is not running: start it with Tests/services/services.sh start" >&2
    exit 77
fi
host="$(value SSHD_HOST)" port="$(value SSHD_PORT)" user="$(value SSHD_USER)"
home="$(value SSHD_HOME)" key="$(value SSHD_KEY)" known_hosts="$(value SSHD_KNOWN_HOSTS)"
password="$(value SSHD_PASSWORD)"

fail() { echo "FAIL: $*" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
common=(-F /dev/null -o UserKnownHostsFile="$known_hosts" -o GlobalKnownHostsFile=/dev/null
        -o StrictHostKeyChecking=yes -o IdentitiesOnly=yes -o ConnectTimeout=10 -P "$port")
ssh_common=(-F /dev/null -o UserKnownHostsFile="$known_hosts" -o GlobalKnownHostsFile=/dev/null
        -o StrictHostKeyChecking=yes -o IdentitiesOnly=yes -o ConnectTimeout=10 -p "$port")

# Key login, against the pinned host key only.
ssh "${ssh_common[@]}" -o BatchMode=yes -i "$key" "$user@$host" true < /dev/null
remote_home="$(ssh "${ssh_common[@]}" -o BatchMode=yes -i "$key" "$user@$host" 'printf %s "$HOME"' < /dev/null)"
[ "$remote_home" = "$home" ] || fail "remote home is '$remote_home', expected '$home'"

# A host key that is not the pinned one is refused.
echo "[$host]:$port $(ssh-keygen -q -t ed25519 -N '' -f "$work/other" <<< y > /dev/null; cut -d' ' -f1,2 "$work/other.pub")" \
    > "$work/wrong_known_hosts"
if ssh -F /dev/null -o UserKnownHostsFile="$work/wrong_known_hosts" -o GlobalKnownHostsFile=/dev/null \
    -o StrictHostKeyChecking=yes -o BatchMode=yes -i "$key" -p "$port" "$user@$host" true < /dev/null 2> /dev/null; then
    fail "a server whose host key is not pinned was accepted"
fi

# sftp batch round trip with the key: put into the home folder, list, get back.
head -c 300000 /dev/urandom > "$work/payload.bin"
cat > "$work/batch" <<BATCH
put "$work/payload.bin" "$home/round trip.bin"
ls -ln "$home"
get "$home/round trip.bin" "$work/back.bin"
BATCH
sftp "${common[@]}" -i "$key" -b "$work/batch" "$user@$host" < /dev/null > "$work/sftp.log"
cmp "$work/payload.bin" "$work/back.bin" || fail "the file came back changed"
[ "$(stat -c %U "$home/round trip.bin")" = "$user" ] || fail "the uploaded file does not belong to $user"

# Password login: no key, the password from an ask-pass program, no terminal.
printf '#!/bin/sh\nprintf "%%s\\n" "$VORN_TEST_PASSWORD"\n' > "$work/askpass"
chmod 700 "$work/askpass"
printf 'rm "%s"\n' "$home/round trip.bin" > "$work/remove"
VORN_TEST_PASSWORD="$password" SSH_ASKPASS="$work/askpass" SSH_ASKPASS_REQUIRE=force DISPLAY= \
    sftp "${common[@]}" -o BatchMode=no -o PubkeyAuthentication=no -o PreferredAuthentications=password \
    -b "$work/remove" "$user@$host" < /dev/null > /dev/null
[ ! -e "$home/round trip.bin" ] || fail "password login did not remove the file"

# The wrong password is refused.
if VORN_TEST_PASSWORD="not-$password" SSH_ASKPASS="$work/askpass" SSH_ASKPASS_REQUIRE=force \
    sftp "${common[@]}" -o BatchMode=no -o PubkeyAuthentication=no -o PreferredAuthentications=password \
    -o NumberOfPasswordPrompts=1 -b "$work/remove" "$user@$host" < /dev/null > /dev/null 2>&1; then
    fail "a wrong password was accepted"
fi
echo "sshd service: ok"
