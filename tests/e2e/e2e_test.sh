#!/usr/bin/env bash
# End-to-end: the real program in a real X server, driven as a person would, against the sample
# site on 127.0.0.1:80. Exits 77 (skipped) where port 80, Xvfb or xdotool is not available.
#   e2e_test.sh NOVUDownLoad sample_site novucfg
set -uo pipefail
app="$1" site="$2" cfg="$3"

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/test installs it)"
done

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# --- the sample site on port 80 -------------------------------------------------------------
"$site" --port 80 --log "$work/site.log" 2>"$work/site.err" &
pids+=($!)
for _ in $(seq 50); do
    grep -q serving "$work/site.err" && break
    kill -0 "${pids[0]}" 2>/dev/null || skip "the sample site cannot listen on 127.0.0.1:80: $(cat "$work/site.err")"
    sleep 0.1
done
grep -q serving "$work/site.err" || skip "the sample site did not start"

# --- a demo folder --------------------------------------------------------------------------
demo="$work/demo"
mkdir -p "$demo"
cp "$app" "$demo/NOVUDownLoad"
"$cfg" "$demo/NOVUDownLoad.cfg" set bbsUrl http://127.0.0.1/Expert/topic \
    documentUrl http://127.0.0.1/develop/article bbsNumber 5000 documentNumber 7000 \
    bbsEnabled 1 documentEnabled 1 timeout 2 >/dev/null || fail "novucfg could not write the settings"

# --- an X server and the program ------------------------------------------------------------
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || skip "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb               # the suite runs the widget tests offscreen; this one is real
(cd "$demo" && exec ./NOVUDownLoad) >"$work/app.out" 2>&1 &
app_pid=$!
pids+=($app_pid)

# Windows captioned NOVUDownLoad that are real windows (the toolkit keeps tiny helpers too).
windows() {
    for w in $(xdotool search --name '^NOVUDownLoad$' 2>/dev/null); do
        local size
        size="$(xdotool getwindowgeometry "$w" 2>/dev/null | awk '/Geometry/ {print $2}')"
        [ "${size%x*}" -gt 50 ] 2>/dev/null && echo "$w $size"
    done
}
main="" width=0 height=0
for _ in $(seq 100); do
    read -r main size < <(windows | head -n1) || true
    [ -n "$main" ] && break
    sleep 0.1
done
[ -n "$main" ] || fail "the main window did not appear: $(cat "$work/app.out")"
width="${size%x*}" height="${size#*x}"

# Presses a button of the window by its place in dialog units (318 x 200).
click() {
    local x=$(( ($1 + 25) * width / 318 )) y=$(( ($2 + 7) * height / 200 ))
    xdotool mousemove --window "$main" "$x" "$y" click 1
}
START="7 179" PAUSE="69 179" RESUME="133 179" ABORT="198 179" CANCEL="261 179"

# Waits for a message box, answers it with Enter, and fails if none comes.
answer_box() {
    local box=""
    for _ in $(seq 100); do
        box="$(windows | awk -v main="$main" '$1 != main {print $1}' | head -n1)"
        [ -n "$box" ] && break
        sleep 0.1
    done
    [ -n "$box" ] || fail "no message box appeared ($1)"
    press_return "$box"
    for _ in $(seq 50); do
        windows | grep -q "^$box " || return 0
        sleep 0.1
    done
    fail "the message box did not close ($1)"
}
# A real key press on the focused window, as a keyboard makes it (events sent to one window
# lose their key release when it closes on the press).
press_return() {
    xdotool windowfocus --sync "$1" 2>/dev/null
    xdotool key Return
}
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
    [[ "$line" =~ ^GET\ http://127\.0\.0\.1/(Expert/topic|develop/article)/([0-9]+)/([0-9]+)\.(xml|shtm)\ HTTP/1\.0\\r\\n\\r\\n$ ]] ||
        fail "unexpected request bytes: $line"
    dir="${BASH_REMATCH[2]}" number="${BASH_REMATCH[3]}" kind="${BASH_REMATCH[4]}"
    [ $(( number / 1000 )) -eq "$dir" ] || fail "folder and number disagree: $line"
    [ -z "${requested[$kind$number]:-}" ] || fail "document requested twice: $line"
    requested[$kind$number]=1
    requests=$((requests + 1))
    if [ "$kind" = xml ]; then file="$demo/xml_file/$dir/$number.xml"; else file="$demo/html_file/$dir/$number.htm"; fi
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
