#!/usr/bin/env bash
# The settings tool and the sample site refuse what they cannot use, say why, and exit with 2.
#   tools_test.sh novucfg sample_site
set -uo pipefail
cfg="$1" site="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
# expect STATUS TEXT COMMAND...: the command exits with STATUS and prints TEXT (stdout or stderr).
expect() {
    local status="$1" text="$2"
    shift 2
    local out
    out="$("$@" 2>&1)"
    local got=$?
    if [ "$got" -ne "$status" ] || ! grep -qF -- "$text" <<<"$out"; then
        echo "FAILED: $* -> status $got (wanted $status), output: $out"
        failures=$((failures + 1))
    fi
}
file="$work/NOVUDownLoad.cfg"
expect 0 "Usage: novucfg" "$cfg" --help
expect 0 "novucfg 1.0" "$cfg" --version
expect 2 "is not a regular file" "$cfg" "$work"
# The fetcher's own refusals, in its words.
expect 2 "bbsUrl: not an http:// or https:// URL" "$cfg" "$file" set bbsUrl ftp://h/x
expect 2 "must not end in a slash" "$cfg" "$file" set documentUrl http://h/x/
expect 2 "control character or space in the URL" "$cfg" "$file" set bbsUrl "$(printf 'http://h/a\r\nX: 1')"
expect 2 "bad port in the URL" "$cfg" "$file" set bbsUrl http://h:0/x
expect 2 "bad port in the URL" "$cfg" "$file" set bbsUrl http://h:65536/x
expect 2 "no host in the URL" "$cfg" "$file" set bbsUrl http:///x
expect 2 "user name in the URL" "$cfg" "$file" set bbsUrl http://me@h/x
# The longest document name under a Document URL adds 24 characters: 235 fit, 236 do not.
expect 2 "name too long" "$cfg" "$file" set documentUrl "http://h/$(printf 'u%.0s' $(seq 227))"
expect 2 "32-bit signed integer" "$cfg" "$file" set bbsNumber 12x
[ ! -e "$file" ] || { echo "FAILED: a refused change wrote the file"; failures=$((failures + 1)); }
expect 0 "bbsUrl          http://127.0.0.1:8080/bbs" "$cfg" "$file" set bbsUrl http://127.0.0.1:8080/bbs
expect 0 "documentUrl     https://[::1]:8443/doc" "$cfg" "$file" set documentUrl https://[::1]:8443/doc
expect 0 "documentUrl     http://h/$(printf 'u%.0s' $(seq 226))" "$cfg" "$file" set documentUrl "http://h/$(printf 'u%.0s' $(seq 226))"
printf 'not a settings file' >"$work/other"
expect 2 "holds 19 bytes, not 540" "$cfg" "$work/other"
expect 0 "bbsUrl          not a settings file" "$cfg" --force "$work/other"
# Without a file: the settings file of a program in the tool's own folder.
cp "$cfg" "$work/novucfg"
expect 0 "bbsNumber       7" "$work/novucfg" set bbsNumber 7
[ "$(stat -c %s "$work/NOVUDownLoad.cfg")" -eq 540 ] || { echo "FAILED: no default file"; failures=$((failures + 1)); }
# A run holds the folder of the file that a link leads to: a change through the link is refused.
mkdir "$work/links" && ln -s "$work/NOVUDownLoad.cfg" "$work/links/x.cfg"
expect 2 "another run is using $work" flock "$work/NOVUDownLoad.lock" "$cfg" "$work/links/x.cfg" set bbsNumber 9
expect 0 "bbsNumber       7" "$cfg" "$work/links/x.cfg"

expect 2 "not a port from 0 to 65535: 8x" "$site" --port 8x
expect 2 "not a port from 0 to 65535: 70000" "$site" --port 70000
expect 2 "not a document number: 12a" "$site" --print xml 12a
[ "$failures" -eq 0 ] || exit 1
echo "tools: every refusal said and exited with 2"
