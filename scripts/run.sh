#!/usr/bin/env bash
# Sets up the machine, builds, and runs the program against the simulated
# camera q7sim on 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"

port=${Q7SIM_PORT:-8899}
build/sim/q7sim --address 127.0.0.1 --port "$port" &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true' EXIT
sleep 0.3

# Until the desktop program exists, a link check greets the camera and prints what it hears.
build/sim/q7linkcheck 127.0.0.1 "$port" "${LINKCHECK_SECONDS:-5}"
