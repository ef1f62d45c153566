#!/usr/bin/env bash
# End-to-end on Windows' side: the built NOVUDownLoad.exe under Wine on a real X server, driven
# as a person would, against the sample site on a free loopback port. The same run and the same
# checks as the Linux window's end-to-end test. Exits 77 (skipped) where Xvfb or xdotool is not
# available. WINEPREFIX names a prefix whose graphics driver is the X11 one. With NOVU_DATA_FOLDER
# (an installed copy's data folder) the program runs where it is, and the run is checked there.
#   windows_window_test.sh NOVUDownLoad.exe sample_site novucfg
set -uo pipefail
app="$1" site="$2" cfg="$3"
work="$(mktemp -d)"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
wine="${NOVU_WINE:-/usr/lib/wine/wine64}"
[ -x "$wine" ] || skip "Wine is not installed (scripts/test windows installs it)"

start_site 0 "$work/site.log" || fail "the sample site did not start: $(cat "$work"/site-*.err)"
start_x

if [ -n "${NOVU_DATA_FOLDER:-}" ]; then
    demo="$NOVU_DATA_FOLDER"
else
    demo="$work/demo"
    mkdir -p "$demo"
    cp "$app" "$demo/NOVUDownLoad.exe"
    app="$demo/NOVUDownLoad.exe"
fi
write_demo_settings

(cd "$(dirname "$app")" && exec "$wine" ./NOVUDownLoad.exe) >"$work/app.out" 2>&1 </dev/null &
app_pid=$!
pids+=($app_pid)
# A Wine start takes half a second, sometimes ten, and so may its first message box.
find_main_window 30 || fail "the main window did not appear: $(cat "$work/app.out")"
box_wait=30
sleep 1  # the window is mapped before Wine has finished activating it: a key then may be lost
xprop -id "$main" _NET_WM_ICON >"$work/icon.txt" 2>&1
grep -q "_NET_WM_ICON(CARDINAL) =" "$work/icon.txt" || fail "the window has no icon"

drive_a_whole_run
check_what_the_run_left
