#!/usr/bin/env bash
# The factory line on one machine: four simulated cameras (camsim, with the
# time bytes take on a real wire) on /tmp/quillon-cam1..4, all flashed at once
# with the demo firmware by quillon-flash. Builds first when needed. Extra
# arguments go to quillon-flash (e.g. --verify, --baud 115200, --json report.json).
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/quillon-flash ] && [ -x build/tools/camsim/camsim ] || bash scripts/build.sh

cameras=4
pids=()
stop_simulators() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}
trap stop_simulators EXIT

ports=()
for n in $(seq "$cameras"); do
    port=/tmp/quillon-cam$n
    rm -f "$port"
    ./build/tools/camsim/camsim --link "$port" --wire-time \
        --flash-out "build/camera$n-flash.bin" >"build/camsim$n.log" &
    pids+=("$!")
    ports+=("$port")
done
for port in "${ports[@]}"; do
    for _ in $(seq 50); do
        [ -e "$port" ] && break
        sleep 0.1
    done
    [ -e "$port" ] || { echo "camsim did not start on $port; see build/camsim*.log" >&2; exit 1; }
done

status=0
./build/quillon-flash "$@" resources/firmware/demo-firmware.hex "${ports[@]}" || status=$?
echo "quillon-flash exit status: $status (the simulated flashes: build/camera1..$cameras-flash.bin," \
     "their logs: build/camsim1..$cameras.log)"
exit "$status"
