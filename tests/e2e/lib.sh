# Shared by the end-to-end scripts: the sample site, an X server, the program's windows and boxes.
# Source it after setting `work` (a scratch folder) and `site` (the sample_site executable).

pids=()
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A loopback port nobody listens on now, for servers that cannot be given port 0.
free_port() {
    local port
    for _ in $(seq 50); do
        port=$((20000 + RANDOM % 40000))
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
    done
    return 1
}

# Writes $work/nginx/nginx.conf for an nginx in the foreground with every file in $work/nginx;
# standard input is the rest of its "http {" block, the closing brace included.
write_nginx_conf() {
    mkdir -p "$work/nginx/logs"
    {
        echo "daemon off; master_process off; pid $work/nginx/nginx.pid;"
        echo "error_log $work/nginx/logs/error.log;"
        echo "events { worker_connections 256; }"
        echo "http {"
        for t in client_body proxy fastcgi uwsgi scgi; do echo "    ${t}_temp_path $work/nginx/$t;"; done
        cat
    } >"$work/nginx/nginx.conf"
}

# start_nginx PORT: nginx with $work/nginx/nginx.conf; the test fails unless it listens on PORT
# within 5 s.
start_nginx() {
    nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" >"$work/nginx/out.txt" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.1
    done
    fail "nginx did not start: $(cat "$work/nginx/out.txt" "$work/nginx/logs/error.log" 2>/dev/null)"
}

# start_site PORT LOG [OPTION...]: starts the sample site on 127.0.0.1:PORT (0: any free port)
# and sets site_port; returns 1 when it cannot listen there.
start_site() {
    local port="$1" log="$2"
    shift 2
    local err="$work/site-$port.err"
    "$site" --port "$port" --log "$log" "$@" 2>"$err" &
    local pid=$!
    pids+=($pid)
    for _ in $(seq 50); do
        site_port="$(sed -n 's|.*serving on http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$err")"
        [ -n "$site_port" ] && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

start_x() {
    for tool in Xvfb xdotool; do
        command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/test installs it)"
    done
    # -noreset: the server must not restart when its last client goes (a killed program does).
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
    pids+=($!)
    for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || skip "Xvfb did not start"
    export DISPLAY=":$(head -n1 "$work/display")"
    export QT_QPA_PLATFORM=xcb  # the suite runs the widget tests offscreen; these are real
}

# Windows captioned NOVUDownLoad that are real windows (the toolkit keeps tiny helpers too).
windows() {
    for w in $(xdotool search --name '^NOVUDownLoad$' 2>/dev/null); do
        local size
        size="$(xdotool getwindowgeometry "$w" 2>/dev/null | awk '/Geometry/ {print $2}')"
        [ "${size%x*}" -gt 50 ] 2>/dev/null && echo "$w $size"
    done
}

# Sets main, width and height to the program's main window once it is shown, waiting at most
# SECONDS (10 unless given).
find_main_window() {
    main=""
    for _ in $(seq $(( ${1:-10} * 10 ))); do
        read -r main size < <(windows | head -n1) || true
        [ -n "$main" ] && break
        sleep 0.1
    done
    [ -n "$main" ] || return 1
    width="${size%x*}" height="${size#*x}"
}

# Presses a button of the main window by its place in dialog units (318 x 200).
click() {
    local x=$(( ($1 + 25) * width / 318 )) y=$(( ($2 + 7) * height / 200 ))
    xdotool mousemove --window "$main" "$x" "$y" click 1
}
START="7 179" PAUSE="69 179" RESUME="133 179" ABORT="198 179" CANCEL="261 179"

# A real key press on the focused window, as a keyboard makes it (events sent to one window
# lose their key release when it closes on the press).
press_return() {
    xdotool windowfocus --sync "$1" 2>/dev/null
    xdotool key Return
}

# Enter on Start, the default button with the focus. A key that reaches a window still being
# activated can be lost (seen under Wine): until Start has taken the folder's lock, which it does
# before anything else, Enter is pressed again.
press_start() {
    for _ in 1 2 3; do
        press_return "$main"
        for _ in $(seq 50); do
            [ -e "$demo/NOVUDownLoad.lock" ] && return 0
            sleep 0.1
        done
    done
    fail "Enter on Start did nothing"
}

# Waits for a message box (at most box_wait seconds, 10 unless set), answers it with Enter, and
# fails if none comes.
answer_box() {
    local box=""
    for _ in $(seq $(( ${box_wait:-10} * 10 ))); do
        box="$(windows | awk -v main="$main" '$1 != main {print $1}' | head -n1)"
        [ -n "$box" ] && break
        sleep 0.1
    done
    [ -n "$box" ] || fail "no message box appeared ($1)"
    press_return "$box"
    for _ in $(seq 50); do
        windows | grep "^$box " >/dev/null || return 0
        sleep 0.1
    done
    fail "the message box did not close ($1)"
}

# The document file of a logged request line, or nothing for a line that is not one.
document_file() {
    [[ "$1" =~ ^GET\ http://127\.0\.0\.1(:[0-9]+)?/(Expert/topic|develop/article)/([0-9]+)/([0-9]+)\.(xml|shtm)\ HTTP/1\.0\\r\\n\\r\\n$ ]] || return 1
    dir="${BASH_REMATCH[3]}" number="${BASH_REMATCH[4]}" kind="${BASH_REMATCH[5]}"
    if [ "$kind" = xml ]; then file="$2/xml_file/$dir/$number.xml"; else file="$2/html_file/$dir/$number.htm"; fi
}

log_lines() { wc -l <"$work/site.log"; }
count_log() { grep -c "$1" "$demo/debug.txt" 2>/dev/null || echo 0; }

# The settings file of the demo folder $demo: both tasks from 5000 and 7000 at the sample site,
# with a 2 s time limit.
write_demo_settings() {
    local base="http://127.0.0.1:$site_port"
    "$cfg" "$demo/NOVUDownLoad.cfg" set bbsUrl "$base/Expert/topic" \
        documentUrl "$base/develop/article" bbsNumber 5000 documentNumber 7000 \
        bbsEnabled 1 documentEnabled 1 timeout 2 >/dev/null || fail "novucfg could not write the settings"
}

# Whether the requests stop once those in progress are done (sets paused_at).
pause_holds() {
    sleep 0.5
    paused_at="$(log_lines)"
    sleep 1.5
    [ "$(log_lines)" -eq "$paused_at" ]
}

# A run as a person makes it, in the main window (main, width, height; the program is app_pid):
# Enter on Start and on the notice, Pause, Resume, Abort and its wait message, Abort again,
# Cancel. Each step is checked against the site's log and debug.txt.
drive_a_whole_run() {
    press_start
    answer_box "the notice"
    for _ in $(seq 100); do [ "$(log_lines)" -ge 200 ] && break; sleep 0.1; done
    [ "$(log_lines)" -ge 200 ] || fail "no documents were requested"

    click $PAUSE
    if ! pause_holds; then
        # A click that Wine took for activating the window is lost: Pause once more (a Pause
        # that took is disabled, so this one does nothing then). A Pause that does not hold
        # fails either way.
        click $PAUSE
        pause_holds || fail "requests went on while paused ($paused_at, then $(log_lines))"
    fi

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
}

# What the run left behind in $demo: every requested document stored byte for byte, or no file
# where the site failed it; the settings file whole, at the exact place the run stopped.
check_what_the_run_left() {
    local requests=0 stored=0 files bbs doc task kind saved first n line
    declare -A requested
    faulty() { case $(( $1 % 100 )) in 13|42|77|99) return 0 ;; esac; return 1; }
    while IFS= read -r line; do
        document_file "$line" "$demo" || fail "unexpected request bytes: $line"
        # Start asks once far past the start, to see whether the series' end can be seen.
        [ "$number" -ge 10000000 ] && continue
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
}
