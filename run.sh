#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quillon Desk.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh
bash scripts/build.sh
echo "Starting Quillon Desk. Right-click the red heading (or press F1) for the language switch and the about window."
exec ./build/quillon-desk
