#!/usr/bin/env bash
# Installs what Tevrin needs, builds it, starts the bundled chart server on
# loopback and starts the tool pointed at it, so a scan works offline.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Tevrin needs a graphical display: DISPLAY is not set." >&2
  echo "Run this on a desktop session, or under a virtual display: xvfb-run -a tools/run.sh" >&2
  exit 1
fi
if [ "${SKIP_INSTALL:-}" != "1" ]; then bash tools/install-deps.sh; fi
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build-run -j"$(nproc)" --target tevrin tevrin-chart-server
PORT="${TEVRIN_PORT:-8399}"
build-run/tools/chartserver/tevrin-chart-server --port "$PORT" --root testdata/site &
SERVER=$!
trap 'kill $SERVER 2>/dev/null || true' EXIT
sleep 1
export TEVRIN_CHART_URL="http://127.0.0.1:$PORT" TEVRIN_SITE_URL="http://127.0.0.1:$PORT"
if [ "$(id -u)" -eq 0 ]; then
  # Chromium, behind the banner's web view, refuses to run as root with its sandbox.
  echo "Running as root: the banner's web view runs without its sandbox for this session." >&2
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi
build-run/tevrin
