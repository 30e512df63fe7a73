#!/usr/bin/env bash
# Installs what VornSled needs on Debian 12. Idempotent: when everything is there it only checks.
#   scripts/setup.sh          packages to build and run the application
#   scripts/setup.sh --test   plus the test-only packages, services and npm test servers
#   scripts/setup.sh --bench  plus the peer tools the benchmarks are measured beside, the
#                             services they run against and the npm S3 test server
set -euo pipefail

# The physical path: npm resolves its workspace through the real folder, and a checkout reached
# through a symbolic link would otherwise not match its own lock file.
project="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)"

# The release build includes the benchmarks, so Google Benchmark is a build package.
build_packages=(
    g++ cmake ninja-build pkg-config
    libssl-dev libcurl4-openssl-dev libexpat1-dev nlohmann-json3-dev libasio-dev libicu-dev
    libsecret-1-dev libglib2.0-dev libavahi-client-dev libqrencode-dev
    qt6-base-dev qt6-svg-dev qt6-image-formats-plugins
    # The interface draws its symbols from this theme's SVG files, whatever theme the desktop uses.
    adwaita-icon-theme
    # The language menu names every language in its own script: Latin, Greek, Cyrillic, Arabic,
    # Hebrew, Devanagari and Thai come with the core set, Chinese, Japanese and Korean with CJK.
    fonts-noto-core fonts-noto-cjk
    openssh-client xdg-utils
    libbenchmark-dev
    # Global hot keys (X key grabs), text recognition with its English and Turkish data, and the
    # image registration of the framework's vision services.
    libxcb1-dev libtesseract-dev libleptonica-dev tesseract-ocr-eng tesseract-ocr-tur
    libopencv-core-dev libopencv-imgproc-dev
)
test_packages=(
    googletest libgtest-dev libgmock-dev
    openssh-server rclone dbus gnome-keyring libsecret-tools libglib2.0-bin
    avahi-daemon avahi-utils iproute2 xvfb xauth openbox xdotool x11-utils fonts-dejavu-core
    python3 python3-botocore curl socat chromium clang libclang-rt-14-dev
    # Decodes the LAN tab's QR code in its test.
    zbar-tools
    nodejs npm
)
# Peers of bench/*/run.sh: rsync and time, which measures it (plan), rclone and the AWS command-line client (s3, sftp,
# transfer), curl, socat and python3 (lan); sshd and the S3 test server to run against.
bench_packages=(
    rsync time rclone awscli curl socat python3 openssh-server openssh-client nodejs npm
)

mode="${1:-}"
case "$mode" in
    "" | --test | --bench) ;;
    *) echo "usage: $0 [--test | --bench]" >&2; exit 2 ;;
esac
wanted=("${build_packages[@]}")
if [ "$mode" = --test ]; then
    wanted+=("${test_packages[@]}")
elif [ "$mode" = --bench ]; then
    wanted+=("${bench_packages[@]}")
fi

missing=()
for package in "${wanted[@]}"; do
    # nodejs may come from elsewhere; any node >= 20 will do.
    if [ "$package" = nodejs ] && command -v node > /dev/null \
        && [ "$(node -p 'process.versions.node.split(".")[0]')" -ge 20 ]; then
        continue
    fi
    # Debian's nodejs comes without npm; a node from elsewhere usually brings its own.
    if [ "$package" = npm ] && command -v npm > /dev/null; then
        continue
    fi
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ "${#missing[@]}" -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "[setup] installing: ${missing[*]}"
    # Another package run (an unattended upgrade, a second set-up) may hold the lock for a while:
    # wait for it rather than fail.
    lock_wait=(-o DPkg::Lock::Timeout=900)
    $sudo apt-get "${lock_wait[@]}" update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get "${lock_wait[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ "$mode" = --test ] || [ "$mode" = --bench ]; then
    # npm test servers and browser drivers, pinned by their lock files.
    for dir in "$project"/Tests/services/npm/*/; do
        [ -f "$dir/package-lock.json" ] || continue
        if [ ! -d "$dir/node_modules" ] || [ "$dir/package-lock.json" -nt "$dir/node_modules" ]; then
            echo "[setup] npm ci in ${dir#"$project"/}"
            npm ci --prefix "$dir" --no-audit --no-fund --loglevel=error
            touch "$dir/node_modules"
        fi
    done
fi
