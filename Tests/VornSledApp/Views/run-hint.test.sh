#!/usr/bin/env bash
# scripts/run.sh without a display prints how to see the program anyway; in a clone whose path
# holds a space, the printed line pasted into a shell still starts the program. The clone here
# holds the real run.sh, a package check that finds everything there, and a CMake project whose
# release build is a program that records that it ran and on which display.
set -euo pipefail
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)"
for tool in xvfb-run Xvfb cmake ninja; do
    if ! command -v "$tool" > /dev/null; then
        echo "$tool is missing"
        [ "${CI:-}" = "true" ] && exit 1 || exit 77
    fi
done

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
clone="$scratch/my clone of it"
mkdir -p "$clone/scripts" "$scratch/elsewhere"
cp "$source_dir/scripts/run.sh" "$clone/scripts/run.sh"
printf '#!/usr/bin/env bash\nexit 0\n' > "$clone/scripts/setup.sh"
cat > "$clone/CMakePresets.json" <<'EOF'
{
  "version": 3,
  "configurePresets": [{"name": "release", "generator": "Ninja", "binaryDir": "${sourceDir}/build/release"}],
  "buildPresets": [{"name": "release", "configurePreset": "release"}]
}
EOF
cat > "$clone/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.20)
project(stand_in NONE)
file(WRITE "${CMAKE_BINARY_DIR}/Sources/vornsled"
     "#!/bin/sh\nprintf 'ran on %s\\n' \"$DISPLAY\" > \"$(dirname \"$0\")/ran\"\n")
file(CHMOD "${CMAKE_BINARY_DIR}/Sources/vornsled" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
EOF

hint="$(cd "$scratch/elsewhere" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM bash "$clone/scripts/run.sh")"
echo "$hint"
line="$(grep 'xvfb-run' <<< "$hint")"
[ -n "$line" ] || { echo "no xvfb-run line in the hint"; exit 1; }
screenshots="$(grep 'screenshots.sh' <<< "$hint")"

# Pasted as it stands, from another folder, by a shell that reads it as a user's would.
(cd "$scratch/elsewhere" && timeout 120 bash -c "$line")
grep -q '^ran on :[0-9]' "$clone/build/release/Sources/ran" || { echo "the pasted line did not run the program"; exit 1; }

# The screenshots line names the script by a path the shell reads back whole.
named="$(cd "$scratch/elsewhere" && bash -c "${screenshots/bash /printf '%s\\n' }")"
[ "$named" = "$clone/scripts/screenshots.sh" ] || { echo "screenshots line: $screenshots"; exit 1; }
echo "the hint's lines run as pasted"
