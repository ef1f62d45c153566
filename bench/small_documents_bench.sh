#!/usr/bin/env bash
# Small documents over a slow link: 1,000 documents of 4-40 KB from nginx, through a relay that
# adds a round trip of 100 or 200 ms (and one more before a new connection's first bytes), fetched
# by novudl (one task, 20 workers) and by curl --parallel --parallel-max 20 with its own defaults
# (HTTP/2 over https, HTTP/1.1 with kept connections over http), both writing files, in the same
# run; ours also with its web archive on (--warc). Prints documents per second and CPU
# milliseconds per document for each, the median of three runs (RUNS=N for another number). The
# documents are written below TMPDIR, which chooses the file system measured; CONTENT=text
# serves prose instead of random bytes.
#   bench/small_documents_bench.sh BUILD_DIR [ROUND_TRIP_MS...]
set -uo pipefail
build="$(realpath "$1")"
shift
trips=("${@:-100 200}")
read -r -a trips <<<"${trips[*]}"
for tool in nginx curl openssl; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 1; }
done
work="$(mktemp -d)"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"' EXIT
count=1000 first=1000 runs="${RUNS:-3}"

# The documents: numbers 1000..1999 of the forum series, 4 to 40 KB each, random bytes, or with
# CONTENT=text pieces of English prose (the system's licence texts), which compress as pages do.
root="$work/root"
mkdir -p "$root/Expert/topic/1"
if [ "${CONTENT:-random}" = text ]; then
    cat /usr/share/common-licenses/* >"$work/prose"
    prose_size="$(stat -c %s "$work/prose")"
fi
for ((n = first; n < first + count; n++)); do
    size=$((4096 + (n * 7919) % 36864))
    if [ "${CONTENT:-random}" = text ]; then
        tail -c +$((1 + (n * 104729) % (prose_size - size))) "$work/prose" | head -c "$size"
    else
        head -c "$size" /dev/urandom
    fi >"$root/Expert/topic/1/$n.xml"
done

# A private CA and a certificate for localhost.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=bench CA" \
    -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$work/site.key" \
    -out "$work/site.csr" 2>/dev/null
printf 'subjectAltName=DNS:localhost\n' >"$work/ext"
openssl x509 -req -in "$work/site.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
    -CAcreateserial -days 2 -extfile "$work/ext" -out "$work/site.pem" 2>/dev/null

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
http_port="$(free_port)" https_port="$(free_port)"
mkdir -p "$work/nginx/logs"
cat >"$work/nginx/nginx.conf" <<CONF
daemon off; master_process off; pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    keepalive_requests 10000;
    client_body_temp_path $work/nginx/body; proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi; uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    server { listen 127.0.0.1:$http_port; root $root; }
    server { listen 127.0.0.1:$https_port ssl http2; root $root;
             ssl_certificate $work/site.pem; ssl_certificate_key $work/site.key; }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
pids+=($!)
sleep 0.5

# relay TARGET_PORT ROUND_TRIP_MS: starts a relay and sets relay_port.
relay() {
    "$build/bench/latency_relay" 0 "$1" "$2" >"$work/relay.out" &
    pids+=($!)
    for _ in $(seq 50); do
        relay_port="$(sed -n 's/relay on 127.0.0.1:\([0-9]*\)/\1/p' "$work/relay.out")"
        [ -n "$relay_port" ] && return
        sleep 0.05
    done
    echo "the relay did not start"
    exit 1
}
# Every run writes into a folder of its own, and nothing is deleted until the end: a file system
# that has just deleted a thousand files spends much of its CPU finding free inodes that were not
# freed a moment ago, which would be charged to whichever run came next. Each folder is set up
# before the clock starts, so that only the fetch itself is measured.
prepare_ours() {  # prepare_ours SCHEME PORT: prints a data folder set up for the series
    local folder; folder="$(mktemp -d "$work/ours.XXXX")"
    "$build/tools/novucfg" --data "$folder" set \
        bbsUrl "$1://localhost:$2/Expert/topic" documentEnabled 0 >/dev/null
    echo "$folder"
}
ours() {  # ours FOLDER [OPTION...]
    SSL_CERT_FILE="$work/ca.pem" "$build/app/novudl" --data "$1" --bbs "$first+$count" \
        --delay 30 "${@:2}"
}
prepare_theirs() {  # prepare_theirs SCHEME PORT: prints a folder with curl's list of the series
    local folder; folder="$(mktemp -d "$work/curl.XXXX")"
    for ((n = first; n < first + count; n++)); do
        printf 'url = "%s://localhost:%s/Expert/topic/1/%s.xml"\noutput = "%s/%s.xml"\n' \
            "$1" "$2" "$n" "$folder" "$n"
    done >"$folder.config"
    echo "$folder"
}
theirs() {  # theirs FOLDER
    curl --parallel --parallel-max 20 --cacert "$work/ca.pem" -s -K "$1.config"
}
# timed COMMAND...: prints the seconds the command took and the CPU seconds it used.
timed() {
    local times
    times="$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1; } 2>&1 | tail -n1)"
    read -r real user system <<<"$times"
    awk -v r="$real" -v u="$user" -v s="$system" 'BEGIN { print r, u + s }'
}
# measure NAME RUNS WHO SCHEME PORT [OPTION...]: WHO (ours or theirs) fetches the series RUNS
# times; prints the median documents per second and CPU milliseconds per document.
measure() {
    local name="$1" runs="$2" who="$3" scheme="$4" port="$5" folder results=()
    shift 5
    for ((run = 0; run < runs; run++)); do
        folder="$("prepare_$who" "$scheme" "$port")"
        results+=("$(timed "$who" "$folder" "$@")")
    done
    local middle=$(((runs + 1) / 2)) real cpu
    real="$(printf '%s\n' "${results[@]}" | cut -d' ' -f1 | sort -g | sed -n "${middle}p")"
    cpu="$(printf '%s\n' "${results[@]}" | cut -d' ' -f2 | sort -g | sed -n "${middle}p")"
    awk -v n="$name" -v c="$count" -v r="$real" -v u="$cpu" \
        'BEGIN { printf "  %-34s %7.1f docs/s  %6.2f ms CPU/doc\n", n, c / r, u * 1000 / c }'
}

echo "$count documents of 4-40 KB (${CONTENT:-random}), 20 at a time; $(nproc) CPUs; median of $runs runs"
for trip in "${trips[@]}"; do
    echo "round trip $trip ms:"
    relay "$https_port" "$trip"
    measure "https: ours" "$runs" ours https "$relay_port"
    measure "https: ours --warc" "$runs" ours https "$relay_port" --warc
    measure "https: curl (HTTP/2)" "$runs" theirs https "$relay_port"
    measure "https: ours --http1.0" 1 ours https "$relay_port" --http1.0
    relay "$http_port" "$trip"
    measure "http: ours --http1.1" "$runs" ours http "$relay_port" --http1.1
    measure "http: ours --http1.1 --warc" "$runs" ours http "$relay_port" --http1.1 --warc
    measure "http: ours (HTTP/1.0)" 1 ours http "$relay_port"
    measure "http: curl (HTTP/1.1)" "$runs" theirs http "$relay_port"
done
