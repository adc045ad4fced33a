#!/usr/bin/env bash
# Installs what is missing, builds, and runs the model with its default settings.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
bash tools/build.sh
exec ./build/segwork-cli run "$@"
