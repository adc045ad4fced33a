#!/usr/bin/env bash
# Builds the WebAssembly segwork-cli (tools/wasm.sh) and checks that it prints the same bytes as
# the native one (build/segwork-cli, or $NATIVE) on standard output and standard error, with the
# same exit status, over runs that reach every place where the arithmetic could differ between
# machines: random street layouts whose paths decide near-ties between angles, exact 45-degree
# and other drawn lines, growth, each empty-cell rule, fractional weights, the literal engine, a
# larger world, and input refused with a message.
set -euo pipefail
cd "$(dirname "$0")/.."
native=${NATIVE:-build/segwork-cli}
[ -x "$native" ] || { echo "wasm_check: no native $native (build it first)" >&2; exit 2; }
bash tools/wasm.sh
wasm=(node build-wasm/segwork-cli.js)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

runs=()
for seed in 16 17 24 39 48; do
  runs+=("--seed $seed --steps 60 --layout random --streets 12 --groups 3 --radius 2")
done
runs+=(
  "--seed 5 --steps 100"
  "--seed 3 --steps 40 --street-line 0,0,40,40,3 --street-line 80,10,20,70,-2 --street-line 5,90,90,5,1"
  "--seed 4 --steps 40 --street-line 10,10,100,37,2 --street-line 100,3,7,80,-3 --street-line 50,0,50,110,1 --street-line 0,60,110,61,3"
  "--seed 6 --steps 80 --grow --grow-start 50 --grow-rate 25 --agents 3000"
  "--seed 7 --steps 50 --empty-cells different --layout grid --rows 4 --cols 3"
  "--seed 8 --steps 50 --empty-cells similar --layout random --streets 8 --street-occupation"
  "--seed 9 --steps 50 --weights 0,1;0,25;0,5;1;1,5;3,75;7,3 --layout random --streets 15 --random-types yes"
  "--seed 10 --steps 30 --engine literal --layout random --streets 10 --groups 4 --radius 3"
  "--seed 11 --steps 30 --engine literal --empty-cells similar --weights 0;0,33;0,67;1;2;4;8 --layout grid"
  "--seed 12 --steps 25 --panel 1200 --cell-size 2 --agents 200000 --groups 5 --layout random --streets 30 --tile-size 13 --cluster-threshold 3"
  "--seed 13 --steps 5 --radius 0"
  "--seed 14 --steps 5 --agents nonsense"
  "--seed 15 --steps 5 --weights 1e-400;0;0;1;2;4;8"
  "--seed 15 --steps 5 --weights 4.9e-324;0;0;1;2;4;8e99 --layout grid"
)
failed=0
for args in "${runs[@]}"; do
  read -ra a <<<"$args"
  ns=0 ws=0
  "$native" run "${a[@]}" >"$out/native.out" 2>"$out/native.err" || ns=$?
  "${wasm[@]}" run "${a[@]}" >"$out/wasm.out" 2>"$out/wasm.err" || ws=$?
  if [ "$ns" != "$ws" ] || ! cmp -s "$out/native.out" "$out/wasm.out" ||
     ! cmp -s "$out/native.err" "$out/wasm.err"; then
    echo "wasm_check: differs (status $ns native, $ws wasm): run $args" >&2
    diff "$out/native.out" "$out/wasm.out" | head -5 >&2 || true
    diff "$out/native.err" "$out/wasm.err" | head -5 >&2 || true
    failed=1
  fi
done
# What the WebAssembly build leaves out is refused with a message, not a crash.
status=0
"${wasm[@]}" run --seed 1 --steps 1 --save-run "$out/run.seg" >/dev/null 2>"$out/err" || status=$?
if [ "$status" -eq 0 ] || ! grep -q "not available in this build" "$out/err" || [ -e "$out/run.seg" ]; then
  echo "wasm_check: --save-run was not refused cleanly (status $status)" >&2
  failed=1
fi
[ "$failed" -eq 0 ] && echo "wasm_check: ${#runs[@]} runs byte-identical to $native"
exit "$failed"
