#!/usr/bin/env bash
# Installs what is missing, builds, and starts the desktop program. Without a display it starts
# it on a virtual one (Xvfb), so it still runs; its arguments go to Qt.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
bash tools/build.sh
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec ./build/segwork "$@"
fi
echo "no display found: starting segwork on a virtual display (Xvfb); stop it with Ctrl-C" >&2
if ! command -v xvfb-run >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y xvfb xauth
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" ./build/segwork "$@"
