#!/usr/bin/env bash
# run_fuzzer.sh FUZZER SEEDS WORK [libFuzzer options]: fuzzes over a fresh copy of the seeds, so
# the committed corpus only changes by hand. Crash inputs land in WORK/artifacts.
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3
shift 3
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp "$seeds"/* "$work/corpus/"
exec "$fuzzer" "$work/corpus" -artifact_prefix="$work/artifacts/" "$@"
