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

# Sets main, width and height to the program's main window once it is shown.
find_main_window() {
    main=""
    for _ in $(seq 100); do
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

# The document file of a logged request line, or nothing for a line that is not one.
document_file() {
    [[ "$1" =~ ^GET\ http://127\.0\.0\.1(:[0-9]+)?/(Expert/topic|develop/article)/([0-9]+)/([0-9]+)\.(xml|shtm)\ HTTP/1\.0\\r\\n\\r\\n$ ]] || return 1
    dir="${BASH_REMATCH[3]}" number="${BASH_REMATCH[4]}" kind="${BASH_REMATCH[5]}"
    if [ "$kind" = xml ]; then file="$2/xml_file/$dir/$number.xml"; else file="$2/html_file/$dir/$number.htm"; fi
}
