#!/usr/bin/env bash
# Starts the real vornsled under Xvfb with a window manager, with a few saved connections and two
# files on its LAN shelf, and saves a PNG of every tab and sheet in English and Turkish (the file
# preview's pictures are saved by the interface tests, with the other test artefacts).
#   bash scripts/screenshots.sh [build folder, default build/test] [output folder, default build/screenshots]
set -euo pipefail
project="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$project/build/test}"
out="${2:-$project/build/screenshots}"

for tool in Xvfb openbox xdotool xwininfo; do
    command -v "$tool" > /dev/null || { echo "$tool is missing: run scripts/setup.sh --test"; exit 1; }
done
if [ ! -f "$build/CMakeCache.txt" ]; then
    (cd "$project" && cmake --preset test > /dev/null)
fi
cmake --build "$build" -j3 --target vornsled vornsled-screen-grab vornsled-picture-text > /dev/null
mkdir -p "$out"
# Absolute, since the program is started from inside its own home folder.
build="$(cd "$build" && pwd)"
out="$(cd "$out" && pwd)"
program="$build/Sources/vornsled"
grab="$build/Tests/vornsled-screen-grab"
reader="$build/Tests/vornsled-picture-text"

source "$project/scripts/x-session.sh"
# Room for the smallest window at scale factor 2; each picture is cut to the main window.
vorn_x_session "$scratch" 2400x1500
unset QT_QPA_PLATFORM
export QT_SCALE_FACTOR=1

# Where the LAN tab's controls are, in window coordinates, at the default window size.
server_button_x=380; server_button_y=131
host_field_x=960; host_field_y=131
port_field_x=1060; port_field_y=131
connect_button_x=1191; connect_button_y=131
language_button_x=1063; language_button_y=66

main_title="VornSled — by Vornworks"
failures=()

# Saves the screen as $1.png and checks that it shows what its name says: the window in front
# has the title $2, and, when $3 is given, the picture reads that marker text (a tab's own words,
# since every tab shares the main window's title).
shot() {
    local name="$1" title="$2" marker="${3:-}"
    sleep 0.8
    local front
    front="$(xdotool getactivewindow getwindowname 2> /dev/null || true)"
    grab_window "$out/$name.png"
    if [ "$front" != "$title" ]; then
        local manager=""
        xdotool get_desktop > /dev/null 2>&1 || manager=" (no window manager on $DISPLAY)"
        failures+=("$name.png: the window in front is \"$front\", not \"$title\"$manager")
    elif [ -n "$marker" ] && ! "$reader" "$out/$name.png" 2> /dev/null | tr -s ' \n' ' ' | grep -qiF -- "$marker"; then
        failures+=("$name.png: no \"$marker\" in the picture")
    fi
}

# Saves the part of the screen the main window covers (its sheets sit inside it).
grab_window() {
    # xwininfo reports the client area's place on the screen, past the window manager's frame.
    local geometry
    geometry="$(xwininfo -id "$window" | awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4}
        /^ *Width:/ {w=$2} /^ *Height:/ {h=$2} END {print x, y, w, h}')"
    # shellcheck disable=SC2086
    "$grab" "$1" $geometry
    echo "$1"
}

# Presses $1 on the main window, which opens the window titled $2, and waits for it to come to
# the front. The key goes to the focused window as a user's would: `xdotool key --window` sends a
# key's release as a synthetic event once another window has the focus, so a key that opens a
# window stays held down in the X server (repeating, and with Control still down for the next key).
open_sheet() {
    xdotool windowactivate --sync "$window" 2> /dev/null || true
    xdotool key "$1"
    for _ in $(seq 1 50); do
        [ "$(xdotool getactivewindow getwindowname 2> /dev/null || true)" = "$2" ] && return 0
        sleep 0.1
    done
}

# What each picture must show, per language: the sheets' titles and a word only that tab shows
# (the toolbar's own words are on every tab), chosen to read reliably.
texts() {
    if [ "$1" = tr ]; then
        connection_title="Yeni SFTP / AWS S3 / Cloudflare R2 Bağlantısı"
        sync_title="Çift Panel Senkronizasyon Önizlemesi"
        pane_marker="Bilgisayar"; lan_marker="mDNS"; transfers_marker="Paralel"
    else
        connection_title="New SFTP / AWS S3 / Cloudflare R2 Connection"
        sync_title="Dual-Pane Synchronization Preview"
        pane_marker="Computer"; lan_marker="mDNS"; transfers_marker="Integrity"
    fi
}

# The port the program with pid $1 listens on for the LAN (empty while it has none).
lan_port() {
    ss -ltnpH | grep "pid=$1," | awk '{print $4}' | sed 's/.*://' | head -n 1 || true
}

# Clicks a point of the window given in window coordinates.
click_at() {
    xdotool mousemove --window "$window" "$1" "$2" click 1
    sleep 0.3
}

for language in en tr; do
    # Another computer on the network: a second instance with its own home, shown in the LAN
    # tab's nearby devices once it is connected by address.
    peer_home="$scratch/peer-$language"
    mkdir -p "$peer_home/data/VornSled" "$peer_home/config"
    mkdir -m 700 "$peer_home/run"
    printf '{"profiles":[],"settings":{"lanPort":0,"lanDeviceName":"Studio Laptop"}}\n' \
        > "$peer_home/data/VornSled/profiles.json"
    (
        export HOME="$peer_home" XDG_DATA_HOME="$peer_home/data" XDG_CONFIG_HOME="$peer_home/config"
        export XDG_RUNTIME_DIR="$peer_home/run" LANGUAGE="$language" LANG="C.UTF-8"
        exec "$program"
    ) > "$scratch/peer-$language.log" 2>&1 &
    peer=$!
    pids+=($peer)
    # A peer that never shows a window leaves the pictures without it rather than hanging.
    peer_window="$(timeout 30 xdotool search --sync --onlyvisible --pid "$peer" | head -n 1 || true)"
    [ -z "$peer_window" ] || timeout 10 xdotool windowminimize --sync "$peer_window" 2> /dev/null || true
    for _ in $(seq 1 50); do [ -n "$(lan_port "$peer")" ] && break; sleep 0.1; done
    peer_port="$(lan_port "$peer")"

    home="$scratch/$language"
    mkdir -p "$home/data/VornSled" "$home/config" "$home/files"
    mkdir -m 700 "$home/run"
    cat > "$home/data/VornSled/profiles.json" << 'JSON'
{"profiles":[
 {"accessKeyID":"","bucket":"","cloudflareAccountID":"","endpointURL":"","host":"127.0.0.1","id":"0F8FAD5B-D9CB-469F-A165-70867728950E","initialRemotePath":"/srv","kind":"sftp","name":"Build Server","port":22,"privateKeyPath":"~/.ssh/id_ed25519","region":"","sftpAuthMethod":"sshKey","usePathStyleAddressing":false,"username":"deploy"},
 {"accessKeyID":"AKIAEXAMPLE","bucket":"media-assets","cloudflareAccountID":"","endpointURL":"","host":"","id":"1B4E28BA-2FA1-11D2-883F-0016D3CCA427","initialRemotePath":"/","kind":"awsS3","name":"Media S3","port":22,"region":"eu-central-1","sftpAuthMethod":"sshKey","usePathStyleAddressing":false,"username":""},
 {"accessKeyID":"r2key","bucket":"backups","cloudflareAccountID":"0123456789abcdef0123456789abcdef","endpointURL":"","host":"","id":"6BA7B811-9DAD-11D1-80B4-00C04FD430C8","initialRemotePath":"/","kind":"cloudflareR2","name":"Backups R2","port":22,"region":"auto","sftpAuthMethod":"sshKey","usePathStyleAddressing":true,"username":""}
],"settings":{"lanPort":0}}
JSON
    printf 'Quarterly figures\n' > "$home/files/report-q3.pdf"
    head -c 2400000 /dev/zero > "$home/files/site-backup.tar"
    # The right pane's Downloads folder, with a file the home folder lacks, so the sync sheet has
    # copies and an orphan to show.
    mkdir -p "$home/Downloads"
    printf 'Notes from last week\n' > "$home/Downloads/old-notes.txt"
    # Something for the explorer's two panes to show: the home folder and Downloads.
    mkdir -p "$home/Documents" "$home/Projects/vornsled" "$home/Pictures" "$home/Downloads/Invoices"
    head -c 184000 /dev/zero > "$home/Downloads/holiday photo.jpg"
    head -c 5200000 /dev/zero > "$home/Downloads/release-2.4.1.tar.gz"
    printf 'Meeting notes\n' > "$home/Downloads/notes.md"
    head -c 73000 /dev/zero > "$home/Downloads/contract (signed).pdf"
    (
        export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/run"
        export LANGUAGE="$language" LANG="C.UTF-8"
        cd "$home/files"
        exec "$program" report-q3.pdf site-backup.tar
    ) > "$scratch/vornsled-$language.log" 2>&1 &
    app=$!
    pids+=($app)
    window="$(timeout 120 xdotool search --sync --onlyvisible --pid "$app" | head -n 1 || true)"
    if [ -z "$window" ]; then
        echo "vornsled showed no window:"
        tail -n 20 "$scratch/vornsled-$language.log"
        exit 1
    fi
    xdotool windowactivate --sync "$window" 2> /dev/null || xdotool windowfocus --sync "$window"
    sleep 2
    # Two files sent to its LAN receiver from outside, as another device would, fill the
    # transfer list with verified records.
    port="$(lan_port "$app")"
    if [ -n "$port" ] && command -v curl > /dev/null; then
        for file in report-q3.pdf site-backup.tar; do
            digest="$(sha256sum "$home/files/$file" | cut -d' ' -f1)"
            curl -s --noproxy '*' -o /dev/null -H "Content-Type: application/octet-stream" \
                -H "X-VornSled-Filename: $file" -H "X-VornSled-Sender: Build%20Laptop" \
                -H "X-VornSled-SHA256: $digest" --data-binary "@$home/files/$file" \
                "http://127.0.0.1:$port/api/v1/upload" || true
        done
    fi
    sleep 1
    texts "$language"
    xdotool key --window "$window" ctrl+1; shot "dual-pane-$language" "$main_title" "$pane_marker"
    xdotool key --window "$window" ctrl+2; shot "lan-$language" "$main_title" "$lan_marker"
    xdotool key --window "$window" ctrl+3; shot "transfers-$language" "$main_title" "$transfers_marker"
    open_sheet ctrl+n "$connection_title"; shot "connection-sheet-$language" "$connection_title"
    xdotool key Escape
    sleep 0.5
    # The sync sheet comes from the explorer: back on its tab first.
    xdotool key --window "$window" ctrl+1
    sleep 0.3
    open_sheet ctrl+shift+s "$sync_title"; shot "sync-sheet-$language" "$sync_title"
    xdotool key Escape
    sleep 0.5
    # The LAN tab with its receiver stopped, then running again with the other computer connected
    # by address and a clipboard text that came from it. The points are the controls' places in
    # the window at its default size.
    xdotool key --window "$window" ctrl+2
    click_at "$server_button_x" "$server_button_y"; shot "lan-stopped-$language" "$main_title" "$lan_marker"
    click_at "$server_button_x" "$server_button_y"
    sleep 1
    port="$(lan_port "$app")"
    if [ -n "$peer_port" ]; then
        click_at "$host_field_x" "$host_field_y"
        xdotool type --delay 20 "127.0.0.1"
        click_at "$port_field_x" "$port_field_y"
        xdotool key ctrl+a
        xdotool type --delay 20 "$peer_port"
        click_at "$connect_button_x" "$connect_button_y"
    fi
    if [ -n "$port" ] && command -v curl > /dev/null; then
        curl -s --noproxy '*' -o /dev/null -H "Content-Type: application/json" \
            --data '{"text":"Gate code for the studio: 4471","sender":"Studio Laptop"}' \
            "http://127.0.0.1:$port/api/v1/clipboard" || true
    fi
    sleep 1
    shot "lan-peers-$language" "$main_title" "$lan_marker"
    # The open language menu: every language named in its own script, with no missing glyphs.
    xdotool key --window "$window" ctrl+1
    click_at "$language_button_x" "$language_button_y"
    sleep 0.5
    # The whole screen: the menu reaches past the window.
    "$grab" "$out/language-menu-$language.png"; echo "$out/language-menu-$language.png"
    xdotool key Escape
    kill "$app" "$peer"; wait "$app" "$peer" 2> /dev/null || true

    # The smallest window, then the default one at scale factor 2: names, tabs and the toolbar's
    # button read in full.
    small_home="$scratch/$language-small"
    cp -r "$home" "$small_home"
    for variant in small scale2; do
        if [ "$variant" = small ]; then scale=1; else scale=2; fi
        (
            export HOME="$small_home" XDG_DATA_HOME="$small_home/data" XDG_CONFIG_HOME="$small_home/config"
            export XDG_RUNTIME_DIR="$small_home/run" LANGUAGE="$language" LANG="C.UTF-8" QT_SCALE_FACTOR="$scale"
            exec "$program"
        ) > "$scratch/vornsled-$language-$variant.log" 2>&1 &
        app=$!
        pids+=($app)
        window="$(timeout 120 xdotool search --sync --onlyvisible --pid "$app" | head -n 1 || true)"
        [ -n "$window" ] || { echo "vornsled showed no window:"; tail -n 20 "$scratch/vornsled-$language-$variant.log"; exit 1; }
        xdotool windowactivate --sync "$window" 2> /dev/null || xdotool windowfocus --sync "$window"
        xdotool windowmove --sync "$window" 0 0 2> /dev/null || true
        xdotool windowsize --sync "$window" $((1080 * scale)) $((680 * scale)) 2> /dev/null || true
        sleep 2
        xdotool key --window "$window" ctrl+1
        shot "dual-pane-$variant-$language" "$main_title" "$pane_marker"
        xdotool key --window "$window" ctrl+3; shot "transfers-$variant-$language" "$main_title" "$transfers_marker"
        kill "$app"; wait "$app" 2> /dev/null || true
    done
done
if [ "${#failures[@]}" -gt 0 ]; then
    echo "pictures that do not show what their names say:"
    printf '  %s\n' "${failures[@]}"
    exit 1
fi
echo "screenshots in $out"
