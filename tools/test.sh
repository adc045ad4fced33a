#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. --sanitize builds and runs them under
# AddressSanitizer and UndefinedBehaviorSanitizer instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
bash tools/build.sh "$@"
dir=build
[ "${1:-}" = "--sanitize" ] && dir=build-sanitize
ctest --test-dir "$dir" --output-on-failure -j2
