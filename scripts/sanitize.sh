#!/usr/bin/env bash
# Builds everything with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer into ./build-checked (with the fuzz targets)
# and runs the whole test suite there. The first report ends the test that
# provoked it, and so fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
CC=clang CXX=clang++ cmake -S . -B build-checked -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILLON_SANITIZE=ON -DQUILLON_FUZZ=ON >/dev/null
cmake --build build-checked --parallel 2
source scripts/sanitizer-env.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build-checked --output-on-failure --parallel 2
