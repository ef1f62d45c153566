#!/usr/bin/env bash
# Without a window system the program says so, in its own words and in words a Linux user
# understands, and ends with status 1, creating nothing; its arguments are not read (not even
# the toolkit's own "-platform offscreen").
#   no_display_test.sh NOVUDownLoad
set -uo pipefail
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$1" "$work/NOVUDownLoad"
cd "$work"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ./NOVUDownLoad -platform offscreen 2>err.txt
status=$?
[ "$status" -eq 1 ] || { echo "FAILED: exit status $status without a display"; exit 1; }
grep -qF "AfxOleInit() 初始化失败!" err.txt || { echo "FAILED: no start-up message: $(cat err.txt)"; exit 1; }
grep -qF "cannot open a window: no display (is DISPLAY or WAYLAND_DISPLAY set?)" err.txt ||
    { echo "FAILED: no explanation: $(cat err.txt)"; exit 1; }
[ ! -e NOVUDownLoad.cfg ] && [ ! -e xml_file ] || { echo "FAILED: files created without a window"; exit 1; }
echo "no display: exit status 1 and both lines"
