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
