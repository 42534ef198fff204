#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quillon Desk beside camsim, the
# camera simulator, whose serial port is the symlink below.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh
bash scripts/build.sh

camera_port=/tmp/quillon-camera
demo_firmware="$PWD/resources/firmware/demo-firmware.hex"
# The file dialog of "..." opens where the last chosen file was; on a first
# run that is the demo firmware.
if ! grep -qs '^FileAdd=' setting.ini; then
    printf '[section10]\nFileAdd=%s\n' "$demo_firmware" >>setting.ini
fi
./build/tools/camsim/camsim --link "$camera_port" --wire-time \
    --flash-out build/camera-flash.bin >build/camsim.log &
camsim_pid=$!
trap 'kill "$camsim_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [ -e "$camera_port" ] && break
    sleep 0.1
done
[ -e "$camera_port" ] || { echo "camsim did not start; see build/camsim.log" >&2; exit 1; }

cat <<MSG
The camera simulator is on $camera_port (a pseudo-terminal at 9600 baud).
To flash the camera:
  1. type $camera_port into the "Port" box of the window;
  2. press "..." and choose $demo_firmware;
  3. press "Upgrade" and watch the progress bar (about 7 s).
The receive pane then ends with "Go 0x08000000", and build/camera-flash.bin holds
the simulated camera's flash (the firmware sits at its start).
Everything the simulator receives and answers is logged in build/camsim.log.
F2 shows all panels (camera control, service, the receive pane) and back.
Right-click the red heading (or press F1) for the menu: all panels, the language
switch and the about window.
MSG
./build/quillon-desk
