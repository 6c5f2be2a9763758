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
  # As root, five exFAT memory cards on loop devices stand for the camera's
  # cards (the tour fills, offloads and clears them); otherwise plain folders do.
  cards_dir=$(mktemp -d /tmp/orvex-demo-cards.XXXXXX)
  cards=()
  devs=()
  take_down_cards() {
    for card in "${cards[@]}"; do
      umount "$cards_dir/$card" 2>/dev/null || umount -l "$cards_dir/$card" 2>/dev/null || true
    done
    for dev in "${devs[@]}"; do losetup -d "$dev" 2>/dev/null || true; done
    rm -rf "$cards_dir"
  }
  trap 'take_down_cards; kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true' EXIT
  if [ "$(id -u)" = 0 ] && [ -e /dev/fuse ] && command -v mount.exfat-fuse >/dev/null &&
     command -v mkfs.exfat >/dev/null && losetup -f >/dev/null 2>&1; then
    for card in Center Left Right Front Back; do
      truncate -s 160M "$cards_dir/$card.img"
      mkfs.exfat -L "$card" "$cards_dir/$card.img" >/dev/null
      dev=$(losetup -f --show "$cards_dir/$card.img") || break
      devs+=("$dev")
      mkdir -p "$cards_dir/$card"
      mount.exfat-fuse "$dev" "$cards_dir/$card" >/dev/null 2>&1 || break
      cards+=("$card")
    done
    if [ "${#cards[@]}" = 5 ]; then
      export ORVEX_TOUR_CARDS=$cards_dir
      echo "Five exFAT cards on loop devices are mounted in $cards_dir for the tour."
    fi
  fi
  xvfb-run -a -s "-screen 0 1280x800x24" \
    build/Orvex --camera-address 127.0.0.1 --camera-port "$port" --screenshots "$out"
  echo "Screenshots of the main window, the POS, image, clearing pages and the photo tool are in $out"
fi
