#!/usr/bin/env bash
# The compressed-catalog fixtures the LZFSE and localization tests read are the ones their
# checksums name, and every file of the folder is named there.
set -euo pipefail
dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../fixtures/lzfse" && pwd)"
cd "$dir"
sha256sum --quiet --strict -c SHA256SUMS
for file in *; do
    case "$file" in README.md|SHA256SUMS) continue ;; esac
    grep -q "  $file\$" SHA256SUMS || { echo "FAIL: $file is not in SHA256SUMS" >&2; exit 1; }
done
echo "lzfse fixtures: ok"
