#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test, the million-step soak runs included.
# --sanitize builds and runs them under AddressSanitizer and UndefinedBehaviorSanitizer instead,
# less the soak runs, which would take hours there.
# --quick leaves out the tests labelled "slow" (the long comparison of the engines and the
# million-step desktop soak), for a developer between two edits; CI runs everything.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
build=()
skip=()
for arg in "$@"; do
  case "$arg" in
    --sanitize) dir=build-sanitize build=(--sanitize) skip+=(-LE soak) ;;
    --quick) quick=yes ;;
    *) echo "usage: bash tools/test.sh [--sanitize] [--quick]" >&2; exit 2 ;;
  esac
done
if [ "${quick:-}" = yes ]; then
  # One -LE takes one expression: leave out both labels at once under --sanitize.
  if [ ${#skip[@]} -gt 0 ]; then skip=(-LE 'soak|slow'); else skip=(-LE slow); fi
fi
bash tools/deps.sh
bash tools/build.sh "${build[@]}"
ctest --test-dir "$dir" --output-on-failure -j2 "${skip[@]}"
