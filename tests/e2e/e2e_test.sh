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
base="http://127.0.0.1:$site_port"
"$cfg" "$demo/NOVUDownLoad.cfg" set bbsUrl "$base/Expert/topic" \
    documentUrl "$base/develop/article" bbsNumber 5000 documentNumber 7000 \
    bbsEnabled 1 documentEnabled 1 timeout 2 >/dev/null || fail "novucfg could not write the settings"

(cd "$demo" && exec ./NOVUDownLoad) >"$work/app.out" 2>&1 &
app_pid=$!
pids+=($app_pid)
find_main_window || fail "the main window did not appear: $(cat "$work/app.out")"
# The built program carries its icon to the window system.
xprop -id "$main" _NET_WM_ICON >"$work/icon.txt" 2>&1
grep -q "_NET_WM_ICON(CARDINAL) =" "$work/icon.txt" || fail "the window has no icon"

log_lines() { wc -l <"$work/site.log"; }
count_log() { grep -c "$1" "$demo/debug.txt" 2>/dev/null || echo 0; }

# --- a run, as a person does it -------------------------------------------------------------
press_return "$main"                     # Start is the default button and has the focus
answer_box "the notice"
for _ in $(seq 100); do [ "$(log_lines)" -ge 200 ] && break; sleep 0.1; done
[ "$(log_lines)" -ge 200 ] || fail "no documents were requested"

click $PAUSE
sleep 0.5
paused_at="$(log_lines)"
sleep 1.5
[ "$(log_lines)" -eq "$paused_at" ] || fail "requests went on while paused ($paused_at, then $(log_lines))"

click $RESUME
for _ in $(seq 50); do [ "$(log_lines)" -gt "$paused_at" ] && break; sleep 0.1; done
[ "$(log_lines)" -gt "$paused_at" ] || fail "Resume did not restart the workers"
sleep 1

click $ABORT
answer_box "the wait message"
for _ in $(seq 100); do [ "$(count_log 'WorkerThread exit')" -ge 20 ] && break; sleep 0.1; done
[ "$(count_log 'WorkerThread exit')" -eq 20 ] || fail "the workers did not all exit"
sleep 0.6                                # one status refresh shows "Active Thread : 0"
click $ABORT                             # tears the run down: no message
sleep 0.5
[ -z "$(windows | awk -v main="$main" '$1 != main')" ] || fail "the second Abort showed a message"
click $CANCEL
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "Cancel did not close the window"

# --- what the run left behind ---------------------------------------------------------------
faulty() { case $(( $1 % 100 )) in 13|42|77|99) return 0 ;; esac; return 1; }
requests=0 stored=0
declare -A requested
while IFS= read -r line; do
    document_file "$line" "$demo" || fail "unexpected request bytes: $line"
    [ $(( number / 1000 )) -eq "$dir" ] || fail "folder and number disagree: $line"
    [ -z "${requested[$kind$number]:-}" ] || fail "document requested twice: $line"
    requested[$kind$number]=1
    requests=$((requests + 1))
    if faulty "$number"; then
        [ ! -e "$file" ] || fail "a failed document left a file: $file"
    else
        cmp -s "$file" <("$site" --print "$kind" "$number") || fail "not stored byte for byte: $file"
        stored=$((stored + 1))
    fi
done <"$work/site.log"
files="$(find "$demo/xml_file" "$demo/html_file" -type f | wc -l)"
[ "$files" -eq "$stored" ] || fail "$files files but $stored documents served whole"

"$cfg" "$demo/NOVUDownLoad.cfg" >"$work/settings.txt" || fail "the settings file cannot be read"
[ "$(stat -c %s "$demo/NOVUDownLoad.cfg")" -eq 540 ] || fail "the settings file is not 540 bytes"
bbs="$(awk '$1 == "bbsNumber" {print $2}' "$work/settings.txt")"
doc="$(awk '$1 == "documentNumber" {print $2}' "$work/settings.txt")"
# Every number below the saved one was fetched, and nothing at or above it: the next start goes
# on exactly where this run stopped.
for task in "xml $bbs 5000" "shtm $doc 7000"; do
    read -r kind saved first <<<"$task"
    [ "$saved" -gt "$first" ] || fail "the $kind number did not move: $saved"
    for ((n = first; n < saved; n++)); do
        [ -n "${requested[$kind$n]:-}" ] || fail "$kind $n is below the saved $saved but was never fetched"
    done
    [ -z "${requested[$kind$saved]:-}" ] || fail "$kind $saved was fetched but is saved as the next start"
done
grep -q "^timeout *2$" "$work/settings.txt" || fail "timeout not kept: $(cat "$work/settings.txt")"
[ "$(count_log 'Create WorkerThread')" -eq 20 ] || fail "debug.txt lacks 20 starts"
[ "$(count_log 'WorkerThread exit')" -eq 20 ] || fail "debug.txt lacks 20 exits"
echo "e2e: $requests documents requested, $stored stored byte for byte, settings at $bbs and $doc"

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
