#!/usr/bin/env bash
# Builds segwork-cli for WebAssembly with Debian's emscripten into build-wasm/: run it as
# `node build-wasm/segwork-cli.js run ...`. Saved runs, pictures and movies are refused there
# (no zlib or libpng), and so are sweeps, which need threads this build has not.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v em++ >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends emscripten \
    libcli11-dev nlohmann-json3-dev cmake ninja-build
fi
# Debian's em++ finds its node modules (acorn) only there.
export NODE_PATH=/usr/share/nodejs
emcmake cmake -S . -B build-wasm -G Ninja -DCMAKE_BUILD_TYPE=Release -DSEGWORK_BUILD_DESKTOP=OFF \
  -DSEGWORK_BUILD_TESTS=OFF >/dev/null
cmake --build build-wasm -j2 --target segwork-cli
