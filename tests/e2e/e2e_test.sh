#!/usr/bin/env bash
# End-to-end: the real program in a real X server, driven as a person would, against the sample
# site on a free loopback port (and, where it can be bound, on port 80 with URLs that name no
# port). Exits 77 (skipped) where Xvfb or xdotool is not available.
#   e2e_test.sh NOVUDownLoad sample_site novucfg
set -uo pipefail
app="$1" site="$2" cfg="$3"
work="$(mktemp -d)"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

start_site 0 "$work/site.log" || fail "the sample site did not start: $(cat "$work"/site-*.err)"
start_x

# --- a demo folder --------------------------------------------------------------------------
demo="$work/demo"
mkdir -p "$demo"
cp "$app" "$demo/NOVUDownLoad"
write_demo_settings

(cd "$demo" && exec ./NOVUDownLoad) >"$work/app.out" 2>&1 &
app_pid=$!
pids+=($app_pid)
find_main_window || fail "the main window did not appear: $(cat "$work/app.out")"
# The built program carries its icon to the window system.
xprop -id "$main" _NET_WM_ICON >"$work/icon.txt" 2>&1
grep -q "_NET_WM_ICON(CARDINAL) =" "$work/icon.txt" || fail "the window has no icon"

# --- a run, as a person does it, and what it left behind -------------------------------------
drive_a_whole_run
check_what_the_run_left

# --- URLs without a port go to port 80 ------------------------------------------------------
if start_site 80 "$work/site80.log"; then
    "$cfg" "$demo/NOVUDownLoad.cfg" set bbsUrl http://127.0.0.1/Expert/topic \
        documentUrl http://127.0.0.1/develop/article >/dev/null
    (cd "$demo" && exec ./NOVUDownLoad) >"$work/app.out" 2>&1 &
    app_pid=$!
    pids+=($app_pid)
    find_main_window || fail "the main window did not appear again"
    press_return "$main"
    answer_box "the notice on port 80"
    for _ in $(seq 100); do [ "$(wc -l <"$work/site80.log")" -ge 20 ] && break; sleep 0.1; done
    [ "$(wc -l <"$work/site80.log")" -ge 20 ] || fail "nothing was requested on port 80"
    kill "$app_pid"
    echo "e2e: URLs without a port were fetched from port 80"
else
    echo "e2e: port 80 cannot be bound here; the portless case was left out"
fi
