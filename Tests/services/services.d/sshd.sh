# An OpenSSH server on 127.0.0.1 for the SFTP tests: a test user with a password and a client key,
# a pinned host key, and a port found free at start. Several worktrees may run it at once, so the
# user's name carries a short digest of its data folder and every file lives in it. It has no Unix
# socket, and the user must reach its home and authorized keys, which the private runtime folder
# would close to it, so everything stays in the data folder of the build tree.

# sshd_user STATE_DIR: the test user of the sshd whose files are in STATE_DIR.
sshd_user() {
    printf 'vornsftp-%s' "$(printf '%s' "$1" | sha256sum | cut -c1-8)"
}

# A port on 127.0.0.1 that nothing listens on now; sshd may still lose it to a race, so the caller
# retries with another.
sshd_pick_port() {
    local port
    while :; do
        port=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
        if ! ss -Htln "sport = :$port" | grep -q .; then
            echo "$port"
            return
        fi
    done
}

start_sshd() {
    local dir="$3" logfile="$2"
    [ "$(id -u)" -eq 0 ] || { echo "sshd: the test user can only be made as root" > "$logfile"; return 1; }
    local user home password
    user="$(sshd_user "$dir")"
    home="$dir/home"
    password="$(head -c 18 /dev/urandom | base64 | tr -d '/+=')"

    mkdir -p "$dir/authorized_keys" "$home" /run/sshd
    ssh-keygen -q -t ed25519 -N '' -C vorn-test-host -f "$dir/host_ed25519"
    ssh-keygen -q -t ed25519 -N '' -C vorn-test-client -f "$dir/client_ed25519"
    cp "$dir/client_ed25519.pub" "$dir/authorized_keys/$user"

    if id -u "$user" > /dev/null 2>&1; then
        usermod -d "$home" -s /bin/sh "$user"
    else
        useradd -M -d "$home" -s /bin/sh "$user"
    fi
    # chpasswd also unlocks the new account, which sshd refuses even for key login while locked.
    printf '%s:%s\n' "$user" "$password" | chpasswd
    chown "$user:" "$home"
    chmod 0755 "$home"
    runuser -u "$user" -- test -w "$home" || {
        echo "sshd: $user cannot write $home (a folder above it is closed to other users)" >> "$logfile"
        return 1
    }

    local port attempt
    for attempt in 1 2 3 4 5; do
        port="$(sshd_pick_port)"
        cat > "$dir/sshd_config" <<EOF
Port $port
ListenAddress 127.0.0.1
HostKey $dir/host_ed25519
PidFile $dir/sshd.pid
AuthorizedKeysFile $dir/authorized_keys/%u
AllowUsers $user
StrictModes no
PubkeyAuthentication yes
PasswordAuthentication yes
KbdInteractiveAuthentication no
UsePAM no
PermitRootLogin no
UseDNS no
PrintMotd no
MaxStartups 100:30:200
MaxSessions 50
Subsystem sftp internal-sftp
EOF
        spawn sshd "$logfile" /usr/sbin/sshd -D -e -f "$dir/sshd_config"
        if wait_until 10 grep -q "Server listening on 127.0.0.1 port $port" "$logfile"; then
            break
        fi
        [ "$attempt" -lt 5 ] || return 1
    done

    echo "[127.0.0.1]:$port $(cut -d' ' -f1,2 "$dir/host_ed25519.pub")" > "$dir/known_hosts"
    env_put SSHD_HOST 127.0.0.1
    env_put SSHD_PORT "$port"
    env_put SSHD_USER "$user"
    env_put SSHD_PASSWORD "$password"
    env_put SSHD_KEY "$dir/client_ed25519"
    env_put SSHD_KNOWN_HOSTS "$dir/known_hosts"
    env_put SSHD_HOME "$home"
    env_put SSHD_LOG "$logfile"
}

# The daemon is stopped by its pid with the others; the test user goes with it.
stop_sshd() {
    local user
    user="$(sshd_user "$state/sshd")"
    if id -u "$user" > /dev/null 2>&1; then
        # Sessions outlive the listener (a shared connection stays open until it has been idle a
        # while); end them first, or userdel refuses a user who still runs processes.
        pkill -KILL -u "$user" 2> /dev/null || true
        for _ in $(seq 20); do pgrep -u "$user" > /dev/null || break; sleep 0.1; done
        userdel "$user" 2> /dev/null || true
    fi
}
