#!/usr/bin/env bash
# The Windows installer under Wine, in a prefix of its own. A silent install for every user: the
# files, the Start-menu entry and the entry in "Apps and features"; the installed window (driven
# as windows_window_test.sh drives it) and novudl.exe storing documents into the user's data
# folder and nothing beside the programs; a silent uninstall that removes all it installed and
# keeps that folder. Then an install for one user, and one into a folder given with /D.
# Exits 77 (skipped) where Wine is not installed.
#   windows_installer_test.sh setup.exe sample_site novucfg
set -uo pipefail
setup="$1" site="$2" cfg="$3"
work="$(mktemp -d)"
here="$(dirname "${BASH_SOURCE[0]}")"
source "$here/lib.sh"
wine="${NOVU_WINE:-/usr/lib/wine/wine64}"
[ -x "$wine" ] || skip "Wine is not installed (scripts/test windows installs it)"

export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$wine" wineboot --init >/dev/null 2>&1 </dev/null
wine_settled() { /usr/lib/wine/wineserver -w; }  # every program of the prefix has ended
wine_settled
unix_path() { "$wine" winepath -u "$1" 2>/dev/null </dev/null | tr -d '\r'; }
folder_of() { unix_path "$("$wine" cmd /c "echo %$1%" 2>/dev/null </dev/null | tr -d '\r')"; }
reg_value() {  # KEY NAME
    "$wine" reg query "$1" /v "$2" 2>/dev/null </dev/null | tr -d '\r' |
        awk -v name="$2" '$1 == name { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}
data="$(folder_of LOCALAPPDATA)/NOVUDownLoad"
machine_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\NOVUDownLoad'
user_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\NOVUDownLoad'
programs="$(unix_path 'C:\ProgramData')/Microsoft/Windows/Start Menu/Programs"
user_programs="$(folder_of APPDATA)/Microsoft/Windows/Start Menu/Programs"

install() {  # FOLDER KEY START_MENU ARGUMENT...: installs silently, checks what it installed
    local folder="$1" key="$2" menu="$3"
    shift 3
    # As a command line is typed, which Wine would quote: /D=, the last, takes the rest of the
    # line, spaces and all.
    printf '@"%s" /S %s\r\n' "$("$wine" winepath -w "$setup" 2>/dev/null </dev/null | tr -d '\r')" "$*" \
        >"$work/install.bat"
    "$wine" cmd /c "$("$wine" winepath -w "$work/install.bat" 2>/dev/null </dev/null | tr -d '\r')" \
        </dev/null || fail "the installer ($*) exited $?"
    wine_settled
    [ "$(ls "$folder" | tr '\n' ' ')" = "NOVUDownLoad.exe README.txt Uninstall.exe novucfg.exe novudl.exe " ] ||
        fail "installed into $folder: $(ls "$folder" 2>&1 | tr '\n' ' ')"
    [ -f "$menu/NOVUDownLoad.lnk" ] || fail "no Start-menu entry in $menu"
    [ -z "$(find "$work/prefix/drive_c/users" -iname 'NOVUDownLoad.lnk' -path '*Desktop*')" ] ||
        fail "a desktop shortcut was made unasked"
    [ "$(reg_value "$key" DisplayName)" = NOVUDownLoad ] && [ "$(reg_value "$key" DisplayVersion)" = 1.0 ] &&
        [ "$(reg_value "$key" Publisher)" = NOVUDownLoad ] &&
        [ "$(unix_path "$(reg_value "$key" DisplayIcon | sed 's/,0$//')")" = "$folder/NOVUDownLoad.exe" ] &&
        [ "$(unix_path "$(reg_value "$key" InstallLocation)")" = "$folder" ] ||
        fail "the entry in Apps and features: $("$wine" reg query "$key" 2>&1 </dev/null)"
    [ "$(( $(reg_value "$key" EstimatedSize) ))" -ge "$(du -sk "$folder" | awk '{print int($1 * 0.9)}')" ] ||
        fail "the estimated size $(reg_value "$key" EstimatedSize) is not that of $folder"
}

uninstall() {  # FOLDER KEY START_MENU: as Apps and features does it, silently
    local folder="$1" key="$2" menu="$3" quiet command
    quiet="$(reg_value "$key" QuietUninstallString)"
    [[ "$quiet" =~ ^\"([^\"]+)\"\ (.*)$ ]] || fail "no silent uninstaller: $quiet"
    command="$(unix_path "${BASH_REMATCH[1]}")"
    # shellcheck disable=SC2086  # its arguments as the string gives them
    "$wine" "$command" ${BASH_REMATCH[2]} </dev/null || fail "the uninstaller exited $?"
    wine_settled  # it runs on from a copy of itself, which removes the original
    [ ! -e "$folder" ] || fail "the uninstaller left $folder: $(ls "$folder")"
    [ ! -e "$menu/NOVUDownLoad.lnk" ] || fail "the uninstaller left the Start-menu entry"
    "$wine" reg query "$key" >/dev/null 2>&1 </dev/null && fail "the uninstaller left $key"
    [ "$(stat -c %s "$data/NOVUDownLoad.cfg" 2>/dev/null)" = 540 ] || fail "the uninstaller touched $data"
}

# --- for every user, into Program Files ----------------------------------------------------
folder="$(unix_path 'C:\Program Files')/NOVUDownLoad"
install "$folder" "$machine_key" "$programs"
mkdir -p "$data"
# The window's Wine on the X server: a prefix still running from the checks above has taken up
# no display, and would keep every later program from drawing.
wine_settled
NOVU_DATA_FOLDER="$data" bash "$here/windows_window_test.sh" "$folder/NOVUDownLoad.exe" "$site" "$cfg" \
    >"$work/window.out" 2>&1 || fail "the installed window: $(cat "$work/window.out")"
start_site 0 "$work/site.log" || fail "the sample site did not start"
"$wine" "$folder/novucfg.exe" set documentUrl "http://127.0.0.1:$site_port/develop/article" \
    </dev/null >/dev/null || fail "the installed novucfg.exe did not change the settings"
"$wine" "$folder/novudl.exe" --doc 8500+10 </dev/null >"$work/novudl.out" 2>&1 ||
    fail "the installed novudl.exe: $(cat "$work/novudl.out")"
cmp -s "$data/html_file/8/8509.htm" <("$site" --print shtm 8509) ||
    fail "the installed novudl.exe did not store into $data"
[ "$(ls "$data/html_file/8" | wc -l)" -eq 10 ] || fail "novudl.exe stored $(ls "$data/html_file/8")"
uninstall "$folder" "$machine_key" "$programs"
[ -f "$data/html_file/8/8509.htm" ] && [ -n "$(ls "$data/xml_file")" ] ||
    fail "the uninstaller removed documents"
echo "installer: for every user into Program Files; the window and novudl.exe store into the user's data folder, which the uninstaller keeps"

# --- for one user, into the user's own programs folder -------------------------------------
folder="$(folder_of LOCALAPPDATA)/Programs/NOVUDownLoad"
install "$folder" "$user_key" "$user_programs" /CurrentUser
"$wine" reg query "$machine_key" >/dev/null 2>&1 </dev/null && fail "a per-user install wrote $machine_key"
"$wine" "$folder/novudl.exe" --doc 8600+3 </dev/null >"$work/novudl.out" 2>&1 ||
    fail "novudl.exe installed for one user: $(cat "$work/novudl.out")"
[ "$(ls "$data/html_file/8" | wc -l)" -eq 13 ] || fail "novudl.exe installed for one user did not store into $data"
uninstall "$folder" "$user_key" "$user_programs"

# --- into a folder of the administrator's choice -------------------------------------------
folder="$(unix_path 'C:\Apps')/NOVU Load"
install "$folder" "$machine_key" "$programs" '/D=C:\Apps\NOVU Load'
uninstall "$folder" "$machine_key" "$programs"
echo "installer: for one user into AppData\\Local\\Programs, and with /D into a folder whose name has a space"
