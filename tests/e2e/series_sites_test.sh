#!/usr/bin/env bash
# Series laid out in other ways, and the things that stand between a mirror and them, on nginx:
# URL and path templates, redirects (to a title, off the site, in a loop, to https on another
# port), a site that wants a session cookie and one that wants a browser's headers. Each site is
# mirrored into a data folder of its own with novucfg --data and novudl --data, as the README
# tells a user.
# Exits 77 (skipped) where nginx or openssl is missing.
#   series_sites_test.sh novudl novucfg
set -uo pipefail
novudl="$1" cfg="$2"
work="$(mktemp -d)"
site=/bin/false
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
for tool in nginx openssl; do
    command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || skip "$tool is not installed"
done
export PATH="$PATH:/usr/sbin"

# --- a private CA and a certificate for localhost ------------------------------------------
pki="$work/pki"
mkdir -p "$pki"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 -subj "/CN=test CA" \
    -keyout "$pki/ca.key" -out "$pki/ca.pem" 2>/dev/null &&
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=localhost" \
        -keyout "$pki/site.key" -out "$pki/site.csr" 2>/dev/null &&
    openssl x509 -req -in "$pki/site.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial \
        -days 30 -extfile <(printf 'subjectAltName=DNS:localhost\n') -out "$pki/site.pem" \
        2>/dev/null || fail "openssl could not make the certificates"
export SSL_CERT_FILE="$pki/ca.pem"

# --- the documents --------------------------------------------------------------------------
root="$work/www"
mkdir -p "$root/t" "$root/a" "$root/c" "$root/h" "$root/s" "$root/w"
for n in $(seq 1000 1004); do
    head -c $((3000 + n)) /dev/urandom >"$root/t/$n.json"
    head -c $((5000 + n)) /dev/urandom >"$root/a/$(printf '%06d' "$n").html"
    head -c $((2000 + n)) /dev/urandom >"$root/t/$n-title"
    head -c $((1000 + n)) /dev/urandom >"$root/c/$n.xml"
    head -c $((1500 + n)) /dev/urandom >"$root/h/$n.xml"
done
# A forum that answers 200 with "Topic not found" for what it does not have: 1005 is a gap.
for n in 1000 1001 1002 1003 1004 1006; do echo "<topic n=\"$n\"/>" >"$root/s/$n.xml"; done
echo "<html><p>Topic not found</p></html>" >"$root/not-found.html"
# A forum that gives three topics and then asks for a login.
for n in 1000 1001 1002; do echo "<topic n=\"$n\"/>" >"$root/w/$n.xml"; done

http_port="$(free_port)" https_port="$(free_port)"
write_nginx_conf <<CONF
    access_log off;
    server {
        listen 127.0.0.1:$http_port; server_name localhost; root $root;
        location ~ ^/t/[0-9]+\$ { return 301 https://localhost:$https_port\$request_uri; }
        location /c/ {
            if (\$cookie_sid != "abc") { return 403; }
            add_header Set-Cookie "seen=yes; Path=/c";
        }
        location /s/ { error_page 404 =200 /not-found.html; }
        location /w/ { error_page 404 = @login; }
        location @login { return 403; }
        location /h/ {
            if (\$http_accept_language = "") { return 403; }
            if (\$http_user_agent !~ "^Mozilla/") { return 403; }
        }
    }
    server {
        listen 127.0.0.1:$https_port ssl; server_name localhost; root $root;
        ssl_certificate $pki/site.pem; ssl_certificate_key $pki/site.key;
        location = /t/1003 { return 302 http://other.example/t/1003; }
        location = /t/1004 { return 302 /t/1004; }
        location ~ ^/t/([0-9]+)\$ { return 301 /t/\$1-title; }
    }
}
CONF
start_nginx "$https_port"
site="http://127.0.0.1:$http_port"

# configure FOLDER ARGUMENT...: novucfg --data FOLDER set ARGUMENT...
configure() {
    local folder="$1"
    shift
    "$cfg" --data "$folder" set "$@" >/dev/null || fail "novucfg refused $*"
}
# mirror NAME FOLDER OPTION...: novudl --data FOLDER with a time limit; sets status.
mirror() {
    local name="$1" folder="$2"
    shift 2
    timeout 60 "$novudl" --data "$folder" --delay 5 "$@" >"$work/$name.out" 2>&1 </dev/null
    status=$?
    [ "$status" -ne 124 ] || fail "$name: novudl did not end"
}
# same FILE ORIGINAL: the stored document is the served one, byte for byte.
same() { cmp -s "$1" "$2" || fail "$1 differs from $2"; }
# reasons FOLDER: "number reason" for each line of failed.txt, by number.
reasons() { awk -F'\t' '{print $3, $5}' "$1/failed.txt" | sort -n; }

# --- 1. two layouts: /t/{n}.json to t/{n}.json, /a/{n:06}.html ------------------------------
layouts="$work/layouts"
configure "$layouts" bbsUrl "$site/t/{n}.json" documentUrl "$site/a/{n:06}.html" \
    bbs.path "t/{n}.json" http.protocol 1.0
mirror layouts "$layouts" --bbs 1000+5 --doc 1000+5
[ "$status" -eq 0 ] || fail "layouts: novudl exited $status: $(cat "$work/layouts.out" "$layouts/failed.txt" 2>/dev/null)"
for n in $(seq 1000 1004); do
    same "$layouts/xml_file/t/$n.json" "$root/t/$n.json"
    same "$layouts/html_file/1/$n.htm" "$root/a/$(printf '%06d' "$n").html"
done
echo "series sites: /t/{n}.json and /a/{n:06}.html stored byte for byte"

# --- 2. redirects: to the title; off the site; a loop; http to https on another port ----------
redirects="$work/redirects"
configure "$redirects" bbsUrl "https://localhost:$https_port/t/{n}" http.protocol 1.1
mirror redirects "$redirects" --bbs 1000+5
[ "$status" -eq 1 ] || fail "redirects: novudl exited $status: $(cat "$work/redirects.out")"
for n in 1000 1001 1002; do same "$redirects/xml_file/1/$n.xml" "$root/t/$n-title"; done
[ "$(reasons "$redirects")" = "1003 redirected to another site: http://other.example/t/1003
1004 too many redirects" ] || fail "redirects: failed.txt says $(reasons "$redirects")"
grep -q "redirected: https://localhost:$https_port/t/1000 -> https://localhost:$https_port/t/1000-title (stored)" \
    "$redirects/debug.txt" || fail "redirects: the chain is not in debug.txt: $(cat "$redirects/debug.txt")"
# https on another port than http's is another server, which gets no cookies of this site.
moved="$work/moved"
configure "$moved" bbsUrl "http://localhost:$http_port/t/{n}" http.protocol 1.1
mirror moved "$moved" --bbs 1000+1
[ "$(reasons "$moved")" = "1000 redirected to another site: https://localhost:$https_port/t/1000" ] ||
    fail "moved: failed.txt says $(reasons "$moved")"
# The one-connection exchange follows nothing, and says where to look instead.
rm "$moved/failed.txt"
mirror moved-1.0 "$moved" --bbs 1000+1 --http1.0
[ "$(reasons "$moved")" = "1000 status 301 (moved to https://localhost:$https_port/t/1000)" ] ||
    fail "HTTP/1.0: failed.txt says $(reasons "$moved")"
echo "series sites: redirects followed on the site, refused off it and in a loop"

# --- 3 and 4, side by side: a site behind a session cookie, one behind a browser's headers ---
cookies="$work/cookies" headers="$work/headers"
configure "$cookies" bbsUrl "$site/c/{n}.xml" bbs.path "{n}.xml"
configure "$headers" bbsUrl "$site/h/{n}.xml"
mirror no-cookie "$cookies" --bbs 1000+2
[ "$(cut -f5 "$cookies/failed.txt" | sort -u)" = "status 403" ] || fail "without the cookie: $(cat "$cookies/failed.txt")"
rm "$cookies/failed.txt"
printf '# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tabc\n' >"$cookies/cookies.txt"
chmod 600 "$cookies/cookies.txt"
configure "$cookies" http.cookies cookies.txt
mirror cookie "$cookies" --bbs 1000+5 --save-cookies &
cookie_run=$!
mirror no-headers "$headers" --bbs 1000+1
[ "$(reasons "$headers")" = "1000 status 403" ] || fail "without the headers: $(reasons "$headers")"
rm "$headers/failed.txt"
mirror headers "$headers" --bbs 1000+5 --user-agent "Mozilla/5.0 (X11)" --header "Accept-Language: en"
[ "$status" -eq 0 ] || fail "headers: novudl exited $status: $(cat "$work/headers.out")"
wait "$cookie_run" || fail "cookie: novudl failed: $(cat "$work/cookie.out" "$cookies/failed.txt" 2>/dev/null)"
for n in $(seq 1000 1004); do
    same "$cookies/xml_file/$n.xml" "$root/c/$n.xml"
    same "$headers/xml_file/1/$n.xml" "$root/h/$n.xml"
done
grep -q $'\tseen\tyes$' "$cookies/cookies.txt" || fail "the site's cookie was not saved: $(cat "$cookies/cookies.txt")"
! grep -rq "abc" "$cookies/debug.txt" "$work/cookie.out" 2>/dev/null || fail "a cookie's value was told"
echo "series sites: a cookie-gated and a header-gated site mirrored side by side"

# --- 5. a site that answers 200 for what it does not have ---------------------------------
soft="$work/soft"
configure "$soft" bbsUrl "$site/s/{n}.xml" bbsNumber 1000 bbsEnabled 1 documentEnabled 0 \
    bbs.missing_if_body "Topic not found" run.end_after 10
mirror soft "$soft"
[ "$status" -eq 1 ] || fail "soft 404s: novudl exited $status: $(cat "$work/soft.out")"
[ "$(ls "$soft/xml_file/1" | tr '\n' ' ')" = "1000.xml 1001.xml 1002.xml 1003.xml 1004.xml 1006.xml " ] ||
    fail "soft 404s: stored $(ls "$soft/xml_file/1")"
[ "$(reasons "$soft")" = "1005 status 200, a missing page (missing_if_body)" ] ||
    fail "soft 404s: failed.txt says $(reasons "$soft")"
"$cfg" --data "$soft" | grep -q "^bbsNumber *1007 " || fail "soft 404s: the saved place: $("$cfg" --data "$soft")"
! grep -q "answers 200" "$work/soft.out" || fail "soft 404s: a warning with missing_if_body set"
# Without the rule, the end cannot be seen: said at once, and --follow does not start.
blind="$work/blind"
configure "$blind" bbsUrl "$site/s/{n}.xml" bbsNumber 1000 bbsEnabled 1 documentEnabled 0
mirror blind "$blind" --follow
[ "$status" -eq 2 ] && grep -q "warning: 127.0.0.1:$http_port answers 200 for numbers it does not have: the end of the series cannot be seen; set missing_if_body" "$work/blind.out" ||
    fail "no end to be seen: status $status, $(cat "$work/blind.out")"
[ ! -e "$blind/xml_file/1" ] || fail "--follow fetched a document it refused to follow"
# A plain run goes on: a page just like the site's answer far past the start counts as missing.
configure "$blind" run.end_after 10
mirror blind-plain "$blind"
[ "$status" -eq 1 ] || fail "no end to be seen, a plain run: status $status, $(cat "$work/blind-plain.out")"
[ "$(ls "$blind/xml_file/1" | tr '\n' ' ')" = "1000.xml 1001.xml 1002.xml 1003.xml 1004.xml 1006.xml " ] ||
    fail "no end to be seen: stored $(ls "$blind/xml_file/1")"
[ "$(reasons "$blind")" = "1005 status 200, a missing page (the same as the page for a number the site does not have)" ] ||
    fail "no end to be seen: failed.txt says $(reasons "$blind")"
mirror bad-pattern "$soft" --missing-if-body "Topic (not found"
[ "$status" -eq 2 ] && grep -q "missing-if-body: not a regular expression: a parenthesis without its partner at position 7" "$work/bad-pattern.out" ||
    fail "a bad pattern: status $status, $(cat "$work/bad-pattern.out")"
echo "series sites: a site of soft 404s ends at its real end, with only the real gap listed"

# --- 6. a login wall: one message, nothing failed, the place exact ---------------------------
wall="$work/wall"
configure "$wall" bbsUrl "$site/w/{n}.xml" bbsNumber 1000 bbsEnabled 1 documentEnabled 0
mirror wall-stop "$wall" --on-login-wall stop
[ "$status" -eq 4 ] || fail "a login wall with stop: novudl exited $status: $(cat "$work/wall-stop.out")"
[ "$(grep -c "127.0.0.1:$http_port now asks for a login (status 403): add its cookies (http.cookies) and press Resume" "$work/wall-stop.out")" -eq 1 ] ||
    fail "a login wall is told once: $(cat "$work/wall-stop.out")"
[ ! -e "$wall/failed.txt" ] || fail "a login wall failed numbers: $(cat "$wall/failed.txt")"
"$cfg" --data "$wall" | grep -q "^bbsNumber *1003 " || fail "a login wall: the saved place: $("$cfg" --data "$wall")"
# By default the run waits, paused, until Ctrl-C; the documents of the run before count, so the
# next run, which starts right at the wall, sees a wall too.
"$novudl" --data "$wall" --delay 5 >"$work/wall-wait.out" 2>&1 </dev/null &
waiting=$!
for _ in $(seq 100); do grep -q "now asks for a login" "$work/wall-wait.out" && break; sleep 0.1; done
sleep 0.5
kill -0 "$waiting" 2>/dev/null || fail "a login wall ended the run: $(cat "$work/wall-wait.out")"
kill -INT "$waiting"
wait "$waiting"
status=$?
[ "$status" -eq 130 ] && grep -q "(the run is paused; Ctrl-C stops it)" "$work/wall-wait.out" ||
    fail "a login wall without --on-login-wall: status $status, $(cat "$work/wall-wait.out")"
[ ! -e "$wall/failed.txt" ] || fail "a paused login wall failed numbers"
echo "series sites: a login wall pauses or stops the run with one message and fails nothing"

# --- 7. what a user may get wrong --------------------------------------------------------------
chmod 644 "$cookies/cookies.txt"
mirror readable "$cookies" --bbs 1000+1
grep -q "warning: .*cookies.txt holds login cookies and other users may read it" "$work/readable.out" ||
    fail "no warning for a cookie file others can read: $(cat "$work/readable.out")"
printf '127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\n' >"$cookies/cookies.txt"
mirror broken-cookies "$cookies" --bbs 1000+1
[ "$status" -eq 2 ] && grep -q "cookies.txt line 1: expected 7 tab-separated fields" "$work/broken-cookies.out" ||
    fail "a broken cookie file: status $status, $(cat "$work/broken-cookies.out")"
printf '[http]\nmax_redirects = 50\n' >"$headers/NOVUDownLoad.toml"
mirror bad-settings "$headers" --bbs 1000+1
[ "$status" -eq 2 ] && grep -q "NOVUDownLoad.toml:2:17: http.max_redirects is a whole number from 0 to 20" "$work/bad-settings.out" ||
    fail "bad settings: status $status, $(cat "$work/bad-settings.out")"
"$cfg" --data "$headers" set bbsUrl "$site/h/{id}" 2>"$work/cfg.err" && fail "novucfg took {id}"
grep -q "unknown placeholder {id}" "$work/cfg.err" || fail "novucfg said $(cat "$work/cfg.err")"
echo "series sites: bad cookie files, settings and templates are refused with their place"
