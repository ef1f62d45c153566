#!/usr/bin/env bash
# novudl against real servers from Debian: nginx as sites are run today (header blocks of about
# 1.5 KB, http and https with a private CA named by SSL_CERT_FILE, IPv6) and tinyproxy as the
# environment's proxy. Every document is stored byte for byte; an unknown CA and a wrong name
# refuse every document, with the library's reason in failed.txt. Exits 77 (skipped) where
# nginx, tinyproxy or openssl is missing. With a fourth argument, novudl is a Windows program and
# that argument runs it (Wine): the same servers then check the Windows build's own TLS.
#   real_web_test.sh novudl sample_site novucfg [runner]
set -uo pipefail
novudl="$1" site="$2" cfg="$3" runner="${4:-}"
work="$(mktemp -d)"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
for tool in nginx tinyproxy openssl; do
    command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || skip "$tool is not installed"
done
export PATH="$PATH:/usr/sbin"

# --- a private CA, a certificate for the loopback, and two that must be refused -------------
pki="$work/pki"
mkdir -p "$pki"
make_ca() { # NAME
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 \
        -subj "/CN=$1 test CA" -keyout "$pki/$1-ca.key" -out "$pki/$1-ca.pem" 2>/dev/null
}
# Whether both numbers of the certificate's ECDSA signature have their whole 32 bytes: Wine's
# verification refuses one written shorter (a leading zero byte, about one signature in 128).
full_signature() { # PEM
    local at
    at="$(openssl asn1parse -in "$1" | tail -n1 | awk -F: '{print $1 + 0}')"
    ! openssl asn1parse -in "$1" -strparse "$at" |
        sed -n 's/.* l= *\([0-9]*\) prim: INTEGER.*/\1/p' | grep -qv -E '^3[23]$'
}
issue() { # CA NAME SUBJECT-ALT-NAMES
    for _ in $(seq 20); do
        openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=$2" \
            -keyout "$pki/$2.key" -out "$pki/$2.csr" 2>/dev/null &&
            openssl x509 -req -in "$pki/$2.csr" -CA "$pki/$1-ca.pem" -CAkey "$pki/$1-ca.key" \
                -CAcreateserial -days 30 -extfile <(printf 'subjectAltName=%s\n' "$3") \
                -out "$pki/$2.pem" 2>/dev/null || return 1
        full_signature "$pki/$2.pem" && return 0
    done
    return 1
}
make_ca trusted && make_ca unknown || fail "openssl could not make the CAs"
issue trusted loopback "DNS:localhost,IP:127.0.0.1,IP:::1" &&
    issue unknown stranger "DNS:localhost,IP:127.0.0.1" &&
    issue trusted elsewhere "DNS:other.example" || fail "openssl could not issue certificates"

# --- the documents, as the sample site makes them --------------------------------------------
root="$work/www"
mkdir -p "$root/Expert/topic/5" "$root/develop/article/7"
for n in $(seq 5000 5019); do "$site" --print xml "$n" >"$root/Expert/topic/5/$n.xml"; done
for n in $(seq 7000 7009); do "$site" --print shtm "$n" >"$root/develop/article/7/$n.shtm"; done
# One document of many TLS records, the last of them partly filled.
head -c 3145739 /dev/urandom >>"$root/Expert/topic/5/5019.xml"

# --- nginx on free ports --------------------------------------------------------------------
http_port="$(free_port)" https_port="$(free_port)" unknown_port="$(free_port)"
elsewhere_port="$(free_port)" v6_port="$(free_port)" proxy_port="$(free_port)"
ipv6=0
grep -q "^0\{31\}1 " /proc/net/if_inet6 2>/dev/null && ipv6=1
# The head of a site run today: security policies, cookies and trace headers, about 1.5 KB.
headers=""
for h in "Strict-Transport-Security \"max-age=63072000; includeSubDomains; preload\"" \
    "Content-Security-Policy \"default-src 'self'; script-src 'self' https://cdn.example https://analytics.example 'nonce-$(printf 'n%.0s' $(seq 40))'; style-src 'self' 'unsafe-inline' https://fonts.example; img-src 'self' data: https:; connect-src 'self' https://api.example wss://live.example; frame-ancestors 'none'; base-uri 'self'; form-action 'self'; upgrade-insecure-requests; report-uri https://report.example/csp/$(printf 'r%.0s' $(seq 120))\"" \
    "Set-Cookie \"session=$(printf 's%.0s' $(seq 200)); Path=/; Secure; HttpOnly; SameSite=Lax\"" \
    "X-Trace-Id \"$(printf 't%.0s' $(seq 64))\"" "X-Request-Id \"$(printf 'q%.0s' $(seq 64))\"" \
    "Permissions-Policy \"geolocation=(), microphone=(), camera=(), payment=(), usb=()\"" \
    "Referrer-Policy strict-origin-when-cross-origin" "X-Content-Type-Options nosniff"; do
    headers+="        add_header $h always;"$'\n'
done
server_block() { # LISTEN [CERTIFICATE]
    echo "    server {"
    echo "        listen $1;"
    [ -n "${2:-}" ] && echo "        ssl_certificate $pki/$2.pem; ssl_certificate_key $pki/$2.key;"
    echo "        root $root;"
    echo "$headers    }"
}
{
    echo "    log_format reuse '\$server_port \$connection \$gzip_ratio \$request';"
    echo "    gzip on; gzip_types *; gzip_min_length 0;"
    echo "    access_log $work/nginx/logs/access.log reuse;"
    server_block "127.0.0.1:$http_port"
    server_block "127.0.0.1:$https_port ssl" loopback
    server_block "127.0.0.1:$unknown_port ssl" stranger
    server_block "127.0.0.1:$elsewhere_port ssl" elsewhere
    [ "$ipv6" -eq 1 ] && server_block "[::1]:$v6_port ssl" loopback
    echo "}"
} | write_nginx_conf
start_nginx "$http_port"
head_size="$(printf 'GET /Expert/topic/5/5000.xml HTTP/1.0\r\n\r\n' |
    (exec 3<>"/dev/tcp/127.0.0.1/$http_port"; cat >&3; cat <&3) | awk '/^\r$/ {print n + 2; exit} {n += length($0) + 1}')"
[ "${head_size:-0}" -gt 1024 ] || fail "nginx's header block is only ${head_size:-0} bytes"

# --- tinyproxy, as the environment's proxy -----------------------------------------------
cat >"$work/tinyproxy.conf" <<CONF
User nobody
Group nogroup
Port $proxy_port
Listen 127.0.0.1
Timeout 30
Allow 127.0.0.1
MaxClients 50
LogFile "$work/tinyproxy.log"
LogLevel Connect
DisableViaHeader Yes
CONF
# tinyproxy leaves root for "nobody", who must reach its log.
chmod 711 "$work"
touch "$work/tinyproxy.log" && chmod 666 "$work/tinyproxy.log"
tinyproxy -d -c "$work/tinyproxy.conf" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$proxy_port") 2>/dev/null && break
    sleep 0.1
done

# run NAME BASE [ENVIRONMENT...]: novudl fetches $topics topics from 5000 on (20 unless set) and
# articles 7000..7009 from BASE in a folder of its own; sets status and folder.
run() {
    local name="$1" base="$2"
    shift 2
    folder="$work/run-$name"
    mkdir -p "$folder"
    local program="./$(basename "$novudl")" ca="$pki/trusted-ca.pem"
    cp "$novudl" "$folder/$program"
    # Wine's programs see this machine's files on drive Z:.
    [ -n "$runner" ] && ca="Z:${ca//\//\\}"
    "$cfg" "$folder/NOVUDownLoad.cfg" set bbsUrl "$base/Expert/topic" \
        documentUrl "$base/develop/article" >/dev/null || fail "novucfg refused $base"
    (cd "$folder" && env SSL_CERT_FILE="$ca" "$@" $runner "$program" --bbs "5000+${topics:-20}" \
        --doc 7000+10 --delay 5 ${options:-}) >"$folder/out.txt" 2>&1 </dev/null
    status=$?
}
stored_whole() {
    [ "$status" -eq 0 ] || fail "$1: novudl exited $status: $(cat "$folder/out.txt" "$folder/failed.txt" 2>/dev/null)"
    for n in $(seq 5000 5019); do
        cmp -s "$folder/xml_file/5/$n.xml" "$root/Expert/topic/5/$n.xml" || fail "$1: topic $n"
    done
    for n in $(seq 7000 7009); do
        cmp -s "$folder/html_file/7/$n.htm" "$root/develop/article/7/$n.shtm" || fail "$1: article $n"
    done
    echo "real web: $1 stored 30 documents byte for byte"
}
refused_with() {
    [ "$status" -eq 1 ] || fail "$1: novudl exited $status"
    [ "$(cut -f5 "$folder/failed.txt" | sort -u)" = "$2" ] ||
        fail "$1: failed.txt says $(cut -f5 "$folder/failed.txt" | sort -u)"
    [ "$(wc -l <"$folder/failed.txt")" -eq 20 ] || fail "$1: not every document was refused"
    [ -z "$(find "$folder/xml_file" "$folder/html_file" -type f)" ] || fail "$1: a file was stored"
    echo "real web: $1 refused every document: $2"
}

run http "http://127.0.0.1:$http_port" && stored_whole "http with a 1.5 KB head"
run https "https://localhost:$https_port" && stored_whole "https with a private CA"
# HTTP/1.1 keeps each worker's connection: 30 documents over at most one connection a worker.
connections="$(awk -v port="$https_port" '$1 == port {print $2}' "$work/nginx/logs/access.log" | sort -u | wc -l)"
[ "$connections" -ge 1 ] && [ "$connections" -le 20 ] ||
    fail "https: 30 documents over $connections connections"
echo "real web: https carried 30 documents over $connections connections"
awk -v port="$https_port" '$1 == port && $3 == "-" {exit 1}' "$work/nginx/logs/access.log" ||
    fail "https: nginx sent a document without gzip"
if [ "$ipv6" -eq 1 ]; then
    run v6 "https://[::1]:$v6_port" && stored_whole "https at [::1]"
else
    echo "real web: no ::1 on this machine; the IPv6 case was left out"
fi
run proxied-http "http://127.0.0.1:$http_port" http_proxy="http://127.0.0.1:$proxy_port" &&
    stored_whole "http through tinyproxy"
options=--warc run proxied-https "https://localhost:$https_port" \
    https_proxy="http://127.0.0.1:$proxy_port" && stored_whole "https through a tinyproxy tunnel"
# Its archive: what the site saw inside the tunnel, over TLS, as a reader nobody here wrote reads it.
archive=("$folder/archive/"*.warc.gz)
[ -f "${archive[0]}" ] && [ -f "${archive[0]%.warc.gz}.cdxj" ] || fail "https: no archive and index"
zcat "${archive[@]}" >"$work/archive.warc"
grep -aq "^CONNECT" "$work/archive.warc" && fail "https: the tunnel's CONNECT is in the archive"
grep -aq '^WARC-Protocol: tls/1\.[23]' "$work/archive.warc" || fail "https: no WARC-Protocol: tls/1.x"
[ "$(grep -ac '^WARC-Type: response' "$work/archive.warc")" -eq 30 ] ||
    fail "https: not 30 responses in the archive"
if [ -d "${NOVU_NODE_MODULES:-}/warcio" ]; then
    NODE_PATH="$NOVU_NODE_MODULES" node "$(dirname "${BASH_SOURCE[0]}")/warc_check.cjs" \
        "${archive[@]}" >"$work/archive.json" || fail "https: warcio finds a bad record"
fi
echo "real web: the tunnelled https exchanges are archived$(grep -a -m1 '^WARC-Cipher-Suite' "$work/archive.warc" | tr -d '\r' | sed 's/^/, /')"
grep -q "CONNECT" "$work/tinyproxy.log" || fail "tinyproxy saw no tunnel: $(cat "$work/tinyproxy.log")"
[ "$(grep -c "GET http://127.0.0.1:$http_port/" "$work/tinyproxy.log")" -ge 30 ] ||
    fail "tinyproxy did not carry the http requests"
# Ten numbers a task: each refusal is listed with its reason.
topics=10 run unknown "https://127.0.0.1:$unknown_port" &&
    refused_with "an unknown CA" "certificate verify failed: unable to get local issuer certificate"
topics=10 run elsewhere "https://localhost:$elsewhere_port" &&
    refused_with "a wrong name" "certificate verify failed: hostname mismatch"
topics=10 run elsewhere-address "https://127.0.0.1:$elsewhere_port" &&
    refused_with "a wrong address" "certificate verify failed: IP address mismatch"
# Twenty topics refused the same way, with nothing stored: the run stops and says what helps.
run untrusted "https://127.0.0.1:$unknown_port"
[ "$status" -eq 5 ] && grep -q "the site's certificate is not trusted (certificate verify failed: unable to get local issuer certificate): SSL_CERT_FILE names a private CA" "$folder/out.txt" ||
    fail "an untrusted site gave $status: $(cat "$folder/out.txt")"
echo "real web: a site whose certificate is not trusted stopped the run with what helps"
