#!/usr/bin/env bash
# Installs the Debian 12 packages Quillon Desk needs to build, test and run,
# when any is missing. The one place that names them.
set -euo pipefail

QUILLON_PACKAGES=(
    cmake make g++ pkg-config
    qtbase5-dev libqt5serialport5-dev qttools5-dev qttools5-dev-tools
    # The checked build and the fuzz targets: clang with its sanitizer and
    # libFuzzer runtimes, and llvm-symbolizer for readable reports.
    clang libclang-rt-14-dev llvm-14
    # A font that covers Chinese, so the switched window shows characters
    # (and the full-width colon of "Port：") instead of empty boxes.
    fonts-wqy-microhei
    # Metric twins of Arial and Times New Roman, which the forms name.
    fonts-liberation
    # The Debian package: dpkg-shlibdeps finds its dependencies, and the
    # test command validates its desktop entry.
    dpkg-dev desktop-file-utils
)

missing=()
for package in "${QUILLON_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
