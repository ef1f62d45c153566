#!/usr/bin/env bash
# Builds the .deb, installs it (for real with dpkg when run as root with
# NOVU_PACKAGE_INSTALL=system, as CI does; else into a scratch root), checks that every file of an
# installation is there and valid, and runs the installed program: it starts offscreen, and in a
# real X server it stores documents into ~/.local/share/NOVUDownLoad, whose settings file the
# installed novucfg changes without being told where it is.
#   package_test.sh BUILD_DIR sample_site
set -uo pipefail
build="$1" site="$2"
work="$(mktemp -d)"
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/lib.sh"
id=example.novu.NOVUDownLoad

for tool in desktop-file-validate appstreamcli dpkg-deb; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/test installs it)"
done
cpack -G DEB -B "$work/pkg" --config "$build/CPackConfig.cmake" >"$work/cpack.out" 2>&1 ||
    fail "cpack: $(cat "$work/cpack.out")"
deb="$(ls "$work"/pkg/*.deb)"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "the dependencies were not computed"
dpkg-deb -f "$deb" Depends | grep -q "libssl3" || fail "the TLS library is not among the dependencies"

if [ "$(id -u)" -eq 0 ] && [ "${NOVU_PACKAGE_INSTALL:-}" = system ]; then
    dpkg -i "$deb" >"$work/dpkg.out" 2>&1 || fail "dpkg -i: $(cat "$work/dpkg.out")"
    trap 'dpkg -r novudownload >/dev/null 2>&1; cleanup' EXIT
    root=""
    echo "package: installed with dpkg -i"
    [ "$(command -v NOVUDownLoad)" = /usr/bin/NOVUDownLoad ] || fail "NOVUDownLoad is not on the PATH"
else
    root="$work/root"
    dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
    echo "package: installed into a scratch root (as root, NOVU_PACKAGE_INSTALL=system installs it for real)"
fi

for file in usr/bin/NOVUDownLoad usr/bin/novucfg usr/bin/novudl \
    usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
    usr/share/man/man1/novucfg.1 usr/share/man/man1/novudl.1 \
    usr/share/icons/hicolor/scalable/apps/$id.svg; do
    [ -f "$root/$file" ] || fail "the package lacks /$file"
done
for size in 16 32 48 64 128 256; do
    [ -f "$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png" ] || fail "no ${size}px icon"
done
desktop-file-validate "$root/usr/share/applications/$id.desktop" || fail "desktop entry invalid"
grep -qx "Categories=Network;FileTransfer;" "$root/usr/share/applications/$id.desktop" ||
    fail "desktop entry categories"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" >"$work/as.out" 2>&1 ||
    fail "metainfo invalid: $(cat "$work/as.out")"

home="$work/home"
mkdir -p "$home"
run() { env -u XDG_DATA_HOME HOME="$home" "$@"; }
data="$home/.local/share/NOVUDownLoad"

# Started offscreen, the installed program lays out its data in the per-user folder.
run QT_QPA_PLATFORM=offscreen timeout 3 "$root/usr/bin/NOVUDownLoad" >"$work/offscreen.out" 2>&1
[ $? -eq 124 ] || fail "the installed program did not keep running offscreen: $(cat "$work/offscreen.out")"
[ "$(stat -c %s "$data/NOVUDownLoad.cfg" 2>/dev/null)" = 540 ] || fail "no settings file in $data"
[ -d "$data/xml_file" ] && [ -d "$data/html_file" ] || fail "no download folders in $data"
[ ! -e "$root/usr/bin/NOVUDownLoad.cfg" ] || fail "the installed program wrote beside itself"

# A run in a real X server stores documents there.
start_site 0 "$work/site.log" || fail "the sample site did not start"
run "$root/usr/bin/novucfg" set bbsUrl "http://127.0.0.1:$site_port/Expert/topic" \
    documentUrl "http://127.0.0.1:$site_port/develop/article" bbsNumber 3000 documentNumber 4000 \
    >/dev/null || fail "the installed novucfg could not change the settings"
start_x
run "$root/usr/bin/NOVUDownLoad" >"$work/app.out" 2>&1 &
app_pid=$!
pids+=($app_pid)
find_main_window || fail "the installed program showed no window: $(cat "$work/app.out")"
press_return "$main"
answer_box "the notice"
for _ in $(seq 100); do [ -f "$data/xml_file/3/3005.xml" ] && break; sleep 0.1; done
kill "$app_pid"
cmp -s "$data/xml_file/3/3005.xml" <("$site" --print xml 3005) ||
    fail "the installed program did not store documents into $data"
[ -s "$data/debug.txt" ] || fail "the log is not in $data"
echo "package: $(basename "$deb") installs, validates, and stores into ~/.local/share/NOVUDownLoad"

# --- the follower as a systemd user service ----------------------------------------------
unit="$root/usr/lib/systemd/user/novudl-follow@.service"
[ -f "$unit" ] || fail "the package lacks /usr/lib/systemd/user/novudl-follow@.service"
command -v systemd-analyze >/dev/null || skip "systemd-analyze is not installed (scripts/test installs it)"
sed "s|/usr/bin/|$root/usr/bin/|" "$unit" >"$work/novudl-follow@forum.service"
verified="$(systemd-analyze verify --man=no "$work/novudl-follow@forum.service" 2>&1)" ||
    fail "systemd-analyze verify: $verified"
[ -z "$verified" ] || fail "systemd-analyze verify: $verified"

start_site 0 "$work/follow.log" --faults none --last 3020 || fail "the second sample site did not start"
follow_settings() {  # DATA_FOLDER
    run "$root/usr/bin/novucfg" --data "$1" set bbsUrl "http://127.0.0.1:$site_port/Expert/topic" \
        bbsNumber 3000 bbsEnabled 1 documentEnabled 0 >/dev/null || fail "novucfg --data $1"
}
followed() {  # DATA_FOLDER: the follower stored the series whole and saved its end
    [ "$(find "$1/xml_file" -type f | wc -l)" -eq 21 ] || fail "the follower stored $(find "$1/xml_file" -type f | wc -l) of 21"
    run "$root/usr/bin/novucfg" --data "$1" | grep -q "^bbsNumber *3021 " ||
        fail "the follower saved $(run "$root/usr/bin/novucfg" --data "$1" | grep bbsNumber)"
}

if [ -z "$root" ] && systemctl --user show-environment >/dev/null 2>&1; then
    # A user manager runs: the installed unit itself, in the manager's own home.
    instance="novu-package-test-$$"
    folder="$(systemctl --user show-environment | sed -n 's/^HOME=//p')/.local/share/NOVUDownLoad/$instance"
    trap 'systemctl --user stop "novudl-follow@$instance"; rm -rf "$folder"; dpkg -r novudownload >/dev/null 2>&1; cleanup' EXIT
    follow_settings "$folder"
    systemctl --user start "novudl-follow@$instance" || fail "the unit did not start: $(systemctl --user status "novudl-follow@$instance")"
    for _ in $(seq 100); do [ -f "$folder/xml_file/3/3020.xml" ] && break; sleep 0.1; done
    systemctl --user stop "novudl-follow@$instance"
    [ "$(systemctl --user show -p Result --value "novudl-follow@$instance")" = success ] ||
        fail "the unit did not stop cleanly: $(systemctl --user status "novudl-follow@$instance")"
    followed "$folder"
    echo "package: the follower ran as a user service, and stopped cleanly"
    exit 0
fi

# No user manager (a container): the unit's own command, as the manager would start it, with a
# notification socket of the test's and standard error standing in for the journal.
command="$(sed -n 's/^ExecStart=//p' "$unit")"
command="${command//%h/$home}"
command="${command//%I/forum}"
command="${command/\/usr\/bin\//$root/usr/bin/}"
folder="$home/.local/share/NOVUDownLoad/forum"
follow_settings "$folder"
python3 -c '
import socket, sys
listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
listener.bind(sys.argv[1])
with open(sys.argv[2], "ab", buffering=0) as out:
    while True:
        out.write(listener.recv(65536) + b"\n")
' "$work/notify.sock" "$work/notify.txt" &
pids+=($!)
for _ in $(seq 50); do [ -S "$work/notify.sock" ] && break; sleep 0.1; done
: >"$work/follow.err"
# shellcheck disable=SC2086  # the unit's command line, split as systemd splits it
env -u XDG_DATA_HOME HOME="$home" NOTIFY_SOCKET="$work/notify.sock" \
    JOURNAL_STREAM="$(stat -c %d:%i "$work/follow.err")" $command >"$work/follow.out" 2>"$work/follow.err" &
follower=$!
pids+=($follower)
for _ in $(seq 100); do grep -q "end of the series at 3021" "$work/follow.err" && break; sleep 0.1; done
grep -qx "<6>novudl: bbs: end of the series at 3021, asking again every 60 s" "$work/follow.err" ||
    fail "the follower did not tell the journal of the end: $(cat "$work/follow.err")"
kill -TERM "$follower"
wait "$follower"
status=$?
grep -q "^SuccessExitStatus=\(.* \)\?$status\( \|$\)" "$unit" ||
    fail "SIGTERM ended the follower with $status, which the unit counts as a failure"
grep -qx "<5>novudl: stopping after the documents in progress (Ctrl-C again to end at once)" \
    "$work/follow.err" || fail "the stop was not told with its priority: $(cat "$work/follow.err")"
[ "$(head -1 "$work/notify.txt")" = READY=1 ] && [ "$(tail -1 "$work/notify.txt")" = STOPPING=1 ] &&
    grep -q "^STATUS=Requested : [0-9]* - Successed : " "$work/notify.txt" ||
    fail "the service manager was told: $(cat "$work/notify.txt")"
followed "$folder"
echo "package: the follower's unit verifies; its command tells READY, STATUS and STOPPING, and SIGTERM saves the place"
