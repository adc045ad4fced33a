#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test, the million-step soak runs included.
# --sanitize builds and runs them under AddressSanitizer and UndefinedBehaviorSanitizer instead,
# less the soak runs, which would take hours there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
bash tools/build.sh "$@"
dir=build
skip=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-sanitize
  skip=(-LE soak)
fi
ctest --test-dir "$dir" --output-on-failure -j2 "${skip[@]}"
