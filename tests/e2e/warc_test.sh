#!/usr/bin/env bash
# The web archive against readers and a writer that nobody here wrote. nginx serves 50 documents
# gzip-compressed over https and http; novudl --warc fetches them, and so does wget --warc-file.
# warcio (npm) must read every record of every file, every block and payload digest must verify
# as it computes them, its CDXJ index must be ours, the payload of each response must be the
# stored file once its gzip is undone, and wget's archive must say what ours says of each URL
# (status, payload). Then an open run whose probe and series end are archived too, and a run
# killed with SIGKILL mid-body: the next start cuts the partial record off, and every document
# below the saved place has its response record; a partial record at the end of a file (as a
# power cut leaves one) is cut off at the next start.
#   warc_test.sh novudl sample_site novucfg NODE_MODULES
set -uo pipefail
novudl="$1" site="$2" cfg="$3" modules="$4"
work="$(mktemp -d)"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
check_script="$(dirname "${BASH_SOURCE[0]}")/warc_check.cjs"
export PATH="$PATH:/usr/sbin"
for tool in nginx openssl wget node; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/test installs it)"
done
[ -d "$modules/warcio" ] || skip "warcio is not installed in $modules (scripts/test installs it)"
export NODE_PATH="$modules"
warcio() { node "$modules/warcio/dist/cli.cjs" "$@"; }
check() { node "$check_script" "$@"; }

# --- nginx: 50 documents, gzip on, over https with a certificate trusted by name ------------
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj "/CN=localhost" \
    -addext "subjectAltName=DNS:localhost" -keyout "$work/site.key" -out "$work/site.pem" \
    2>/dev/null || fail "openssl could not make a certificate"
root="$work/www"
mkdir -p "$root/Expert/topic/1" "$work/nginx/logs"
for n in $(seq 1000 1049); do "$site" --print xml "$n" >"$root/Expert/topic/1/$n.xml"; done
http_port="$(free_port)" https_port="$(free_port)"
write_nginx_conf <<CONF
    access_log off;
    types { text/xml xml; }
    gzip on; gzip_types text/xml; gzip_min_length 0;
    server { listen 127.0.0.1:$http_port; root $root; }
    server { listen 127.0.0.1:$https_port ssl; root $root;
             ssl_certificate $work/site.pem; ssl_certificate_key $work/site.key; }
}
CONF
start_nginx "$http_port"

# Runs novudl on the data folder $1 for the site $2 with the options after them.
fetch() {
    local data="$1" base="$2"
    shift 2
    mkdir -p "$data"
    "$cfg" --data "$data" set bbsUrl "$base/Expert/topic" documentEnabled 0 >/dev/null ||
        fail "novucfg"
    SSL_CERT_FILE="$work/site.pem" timeout 120 "$novudl" --data "$data" "$@" \
        >"$work/out.txt" 2>&1
}

# --- 50 documents over https, archived; the same by wget ------------------------------------
fetch "$work/ours" "https://localhost:$https_port" --bbs 1000+50 --warc ||
    fail "novudl --warc: $(cat "$work/out.txt")"
files=("$work/ours/archive/"*.warc.gz)
[ "${#files[@]}" -eq 1 ] || fail "one run made ${#files[@]} archive files"
check "${files[@]}" >"$work/ours.json" || fail "warcio finds a bad record: $(grep -v '"ok"' "$work/ours.json")"
warcio index "${files[@]}" >"$work/index.txt" || fail "warcio index cannot read the archive"
[ "$(grep -c '"warc-type":"response"' "$work/index.txt")" -eq 50 ] ||
    fail "not 50 response records: $(cat "$work/index.txt")"
diff <(warcio cdx-index "${files[@]}" | sort) "${files[0]%.warc.gz}.cdxj" ||
    fail "the CDXJ index beside the archive is not what warcio makes of it"
for n in $(seq 1000 1049); do
    url="https://localhost:$https_port/Expert/topic/1/$n.xml"
    content="$(grep -F "\"uri\":\"$url\"" "$work/ours.json" | grep -o '"content":"[0-9a-f]*"' | cut -d'"' -f4)"
    [ "$content" = "$(sha1sum <"$work/ours/xml_file/1/$n.xml" | cut -d' ' -f1)" ] ||
        fail "the response for $n is not the stored file once its gzip is undone"
done
zcat "${files[0]}" >"$work/ours.warc"
grep -aq '^WARC-Protocol: tls/1\.[23]' "$work/ours.warc" || fail "no WARC-Protocol: tls/1.x"
grep -aq '^WARC-Cipher-Suite: TLS_' "$work/ours.warc" || fail "no WARC-Cipher-Suite"
grep -aq '^Content-Encoding: gzip' "$work/ours.warc" || fail "nginx sent nothing gzip-compressed"

for n in $(seq 1000 1049); do echo "https://localhost:$https_port/Expert/topic/1/$n.xml"; done >"$work/urls"
(cd "$work" && wget -q --compression=gzip --ca-certificate="$work/site.pem" \
    --warc-file="$work/wget" -i "$work/urls" -P "$work/wget-files") || fail "wget --warc-file failed"
check --any-payload "$work/wget.warc.gz" >"$work/wget.json" || fail "warcio cannot read wget's archive"
# Record by record: the same URL, the same status, the same payload as replay tools compute it.
# wget's own WARC-Payload-Digest covers the chunks as framed, so the digest compared is
# warcio's of wget's record.
said() { # JSON FIELD...: the URI, status and payload of each response, one line each
    node -e '
        const lines = require("fs").readFileSync(process.argv[1], "utf8").trim().split("\n");
        for (const line of lines.map(JSON.parse).filter((r) => r.type === "response"))
            console.log(line.uri, line.status, line[process.argv[2]]);' "$1" "$2" | sort
}
diff <(said "$work/ours.json" digest) <(said "$work/wget.json" computed) ||
    fail "wget's archive and ours differ"
# What each sent, for the README's list of differences in the request head.
first_request() { zcat "$1" | awk '/^GET / {g = 1} g {print} g && /^\r$/ {exit}' | tr -d '\r'; }
echo "request heads, ours then wget's:"
first_request "${files[0]}"
first_request "$work/wget.warc.gz"

# --- an open run over plain http: the probe and the series' end are archived too ------------
fetch "$work/open" "http://127.0.0.1:$http_port" --from-bbs 1040 --warc ||
    fail "the open run: $(cat "$work/out.txt")"
files=("$work/open/archive/"*.warc.gz)
check "${files[@]}" >"$work/open.json" || fail "warcio finds a bad record in the open run's archive"
[ "$(grep -c '"status":"404"' "$work/open.json")" -ge 102 ] ||
    fail "the probe's and the series end's 404 answers are not all archived"
grep -q "\"uri\":\"http://127.0.0.1:$http_port/Expert/topic/10001/10001040.xml\"" "$work/open.json" ||
    fail "the probe's question is not archived"

# --- killed mid-body, started again: the partial record goes, stored documents have theirs ---
start_site 0 "$work/site.log" --faults none --pad 256 --drip 2 || fail "the sample site did not start"
data="$work/killed"
mkdir -p "$data"
"$cfg" --data "$data" set bbsUrl "http://127.0.0.1:$site_port/Expert/topic" bbsNumber 5000 \
    documentEnabled 0 timeout 5 >/dev/null || fail "novucfg"
saved_place() { "$cfg" --data "$data" | awk '$1 == "bbsNumber" {print $2}'; }
for round in 1 2 3; do
    before="$(saved_place)"
    "$novudl" --data "$data" --warc >/dev/null 2>&1 &
    pid=$!
    # Killed only once this run has moved the place, however slow the build: then the records
    # below it must have survived, and documents are still coming in pieces.
    for _ in $(seq 400); do [ "$(saved_place)" -gt "$before" ] && break; sleep 0.05; done
    sleep "0.$((RANDOM % 5 + 1))"
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null
done
saved="$(saved_place)"
# A kill leaves each record whole or not begun (one write each); a power cut may leave a record
# written after the last flush partial, as these first 100 bytes of one stand for. The records
# before it were flushed, and stay whole.
newest="$(ls "$data/archive/"*.warc.gz | tail -n1)"
head -c 100 "$newest" >"$work/torn"
cat "$work/torn" >>"$newest"
# The next start finishes what the kills left; a run of one document, then, ends cleanly.
"$novudl" --data "$data" --warc --bbs "$saved+1" >/dev/null 2>&1
grep -q "archive: cut 100 bytes off the end of $newest" "$data/debug.txt" ||
    fail "the partial record was not cut off, or not logged: $(grep archive "$data/debug.txt")"
for file in "$data/archive/"*.warc.gz; do
    warcio index "$file" >/dev/null || fail "$file does not read whole"
    [ -f "${file%.warc.gz}.cdxj" ] || fail "$file has no index"
done
check "$data/archive/"*.warc.gz >"$work/killed.json" || fail "a killed run left a bad record"
[ "$saved" -gt 5000 ] || fail "the killed runs saved no place past 5000"
for ((n = 5000; n < saved; n++)); do
    grep -q "/Expert/topic/$((n / 1000))/$n.xml\",.*\"status\":\"200\"" "$work/killed.json" ||
        fail "$n is below the saved place $saved but its response is not in the archive"
done
echo "warc: 50 documents as wget archives them; probe and end archived; $((saved - 5000)) documents of killed runs all archived"
