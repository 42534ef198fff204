#!/usr/bin/env bash
# Builds the Debian package from ./build and checks it: unpacked into a
# temporary root (dpkg-deb -x lays the files out as dpkg would, without a
# package database or root rights; the package has no maintainer scripts),
# it holds exactly the window, its translations, its icon and its desktop
# entry, and the command-line flasher; it depends on the Qt libraries the
# programs link; the desktop entry is valid and names what the package
# installs; and both programs start from there.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
    echo "package: $*" >&2
    exit 1
}

rm -f build/quillon-desk_*.deb
log=$(cd build && cpack -G DEB 2>&1) || fail "cpack failed:
$log"
deb=$(ls build/quillon-desk_*.deb)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

expected="./usr/bin/quillon-desk
./usr/bin/quillon-flash
./usr/share/applications/quillon-desk.desktop
./usr/share/icons/hicolor/64x64/apps/quillon-desk.png
./usr/share/quillon-desk/translations/main_widget_en.qm
./usr/share/quillon-desk/translations/main_widget_zh.qm"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
[ "$files" = "$expected" ] || fail "the file list differs:
$(diff <(echo "$expected") <(echo "$files") || true)"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt5core5a libqt5gui5 libqt5widgets5 libqt5network5 libqt5serialport5 libstdc++6; do
    [[ "$depends" == *"$library "* ]] || fail "Depends lacks $library: $depends"
done
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"

entry="$root/usr/share/applications/quillon-desk.desktop"
desktop-file-validate "$entry" || fail "the desktop entry is not valid"
grep -qx 'Exec=quillon-desk' "$entry" && grep -qx 'Icon=quillon-desk' "$entry" \
    || fail "the desktop entry does not start the installed program with its icon"
# A PNG's header gives its width and height at bytes 16 to 23.
[ "$(od -An -tx1 -j16 -N8 "$root/usr/share/icons/hicolor/64x64/apps/quillon-desk.png" | tr -d ' \n')" \
    = 0000004000000040 ] || fail "the icon is not 64 x 64"

# The unpacked program runs on the system's Qt (nothing of the build tree):
# still running after a second means it came up.
status=0
(cd "$root" && QT_QPA_PLATFORM=offscreen timeout 1 "$root/usr/bin/quillon-desk" >"$root/run.log" 2>&1) || status=$?
[ "$status" -eq 124 ] || fail "the unpacked program did not stay up (exit status $status):
$(cat "$root/run.log")"

"$root/usr/bin/quillon-flash" --help >/dev/null || fail "the unpacked quillon-flash does not start"

echo "package: $deb"
dpkg-deb -c "$deb"
