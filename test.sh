#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test offscreen; builds the
# Debian package and checks what it installs; then the same suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz targets for a
# minute each.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure --parallel 2
bash scripts/package.sh
bash scripts/sanitize.sh
bash scripts/fuzz.sh
