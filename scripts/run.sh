#!/usr/bin/env bash
# Sets up the machine, builds, starts the simulated camera q7sim on 127.0.0.1
# and the desktop program Orvex pointed at it. Without a display, Orvex runs
# under Xvfb, saves screenshots of its main window and says where.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"

port=${Q7SIM_PORT:-8899}
build/sim/q7sim --address 127.0.0.1 --port "$port" --serial Q7X500000012345 --firmware 4.5 &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true' EXIT
sleep 0.3
if ! kill -0 "$sim_pid" 2>/dev/null; then
  echo "q7sim could not start on 127.0.0.1:$port (set Q7SIM_PORT to use another port)" >&2
  exit 1
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Orvex: open the link button (bottom left), then press 连接 to connect to q7sim."
  build/Orvex --camera-address 127.0.0.1 --camera-port "$port"
else
  out=${SCREENSHOT_DIR:-$PWD/screenshots}
  echo "No display: running Orvex under Xvfb to take screenshots."
  xvfb-run -a -s "-screen 0 1280x800x24" \
    build/Orvex --camera-address 127.0.0.1 --camera-port "$port" --screenshots "$out"
  echo "Screenshots of the main window (disconnected, connected) and the POS page are in $out"
fi
