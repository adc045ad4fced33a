#!/usr/bin/env bash
# Configures and builds into build/ (Release), or build-sanitize/ with --sanitize.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
args=(-DCMAKE_BUILD_TYPE=Release)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-sanitize
  args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSEGWORK_SANITIZE=ON)
fi
cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
cmake --build "$dir"
