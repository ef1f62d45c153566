#!/usr/bin/env bash
# Without a window system the program says so and ends with a non-zero code, creating nothing;
# and its arguments are not read (not even the toolkit's own "-platform offscreen").
#   no_display_test.sh NOVUDownLoad
set -uo pipefail
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$1" "$work/NOVUDownLoad"
cd "$work"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ./NOVUDownLoad -platform offscreen 2>err.txt
status=$?
[ "$status" -ne 0 ] || { echo "FAILED: exit code 0 without a display"; exit 1; }
grep -qF "AfxOleInit() 初始化失败!" err.txt || { echo "FAILED: no start-up message: $(cat err.txt)"; exit 1; }
[ ! -e NOVUDownLoad.cfg ] && [ ! -e xml_file ] || { echo "FAILED: files created without a window"; exit 1; }
echo "no display: exit code $status and the start-up message"
