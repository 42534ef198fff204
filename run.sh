#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quillon Desk beside camsim, the
# camera simulator, whose serial port is the symlink below.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh
bash scripts/build.sh

camera_port=/tmp/quillon-camera
./build/tools/camsim/camsim --link "$camera_port" --wire-time >build/camsim.log &
camsim_pid=$!
trap 'kill "$camsim_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [ -e "$camera_port" ] && break
    sleep 0.1
done
[ -e "$camera_port" ] || { echo "camsim did not start; see build/camsim.log" >&2; exit 1; }

cat <<MSG
The camera simulator is on $camera_port (a pseudo-terminal at 9600 baud).
Type $camera_port into the "Port" box of the window and use it as the port.
Everything the simulator receives and answers is logged in build/camsim.log.
Right-click the red heading (or press F1) for the language switch and the about window.
MSG
./build/quillon-desk
