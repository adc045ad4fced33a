#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and fuzzes each for SECONDS
# (default 20) over a copy of its seed corpus: bash tools/fuzz.sh [SECONDS].
# Inputs that crash are kept in build-fuzz/fuzz/corpus-<target>/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
bash tools/deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSEGWORK_FUZZ=ON -DSEGWORK_BUILD_TESTS=OFF -DSEGWORK_BUILD_DESKTOP=OFF \
  -DSEGWORK_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build build-fuzz --target fuzz_convert fuzz_weights fuzz_command_line fuzz_cli_run fuzz_scenario \
  fuzz_saved_run fuzz_design
ctest --test-dir build-fuzz -L fuzz --output-on-failure
