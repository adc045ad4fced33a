#!/usr/bin/env bash
# Regenerates the user guide's pictures (docs/images/*.png) from the real program, offscreen:
# builds the desktop tools (tools/desktop/, not tests) and runs the two that drive the windows and
# save them. Seeds, strokes and step counts are fixed, so an unchanged program gives the same
# files.
# Usage: bash tools/screenshots.sh [BUILD_DIR]   (default build/)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
bash tools/deps.sh
[ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" --target segwork_desktop_tools
mkdir -p docs/images
QT_QPA_PLATFORM=offscreen SEGWORK_SCREENSHOT_DIR="$PWD/docs/images" \
  "$dir/tools/segwork_desktop_tools" --gtest_filter='Desktop.Screenshots:Desktop.ChartMenuScreenshot:Desktop.ExperimentScreenshot' \
  --gtest_brief=1
ls -l docs/images
