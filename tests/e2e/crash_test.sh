#!/usr/bin/env bash
# The real program killed with SIGKILL at random moments while it fetches large documents that
# arrive slowly, then started again, several times over. After every kill: no truncated file
# under a final name, and a settings file of 540 valid bytes; after every restart, the run goes
# on at the saved numbers; at the end, every number below the saved ones is stored whole. The
# runs keep their web archive: once a start has finished what the kills left, every archive file
# reads whole with warcio, and every stored number below the saved ones has its response there.
#   crash_test.sh NOVUDownLoad sample_site novucfg novudl NODE_MODULES [ROUNDS]
set -uo pipefail
app="$1" site="$2" cfg="$3" novudl="$4" modules="$5" rounds="${6:-6}"
work="$(mktemp -d)"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

pad=256  # KiB more per document, sent in 4 KiB pieces 2 ms apart: kills land mid-body
start_site 0 "$work/site.log" --faults none --pad "$pad" --drip 2 ||
    fail "the sample site did not start: $(cat "$work"/site-*.err)"
start_x
demo="$work/demo"
mkdir -p "$demo"
cp "$app" "$demo/NOVUDownLoad"
"$cfg" "$demo/NOVUDownLoad.cfg" set bbsUrl "http://127.0.0.1:$site_port/Expert/topic" \
    documentUrl "http://127.0.0.1:$site_port/develop/article" bbsNumber 5000 documentNumber 7000 \
    bbsEnabled 1 documentEnabled 1 timeout 5 >/dev/null || fail "novucfg could not write the settings"
printf '[archive]\nwarc = true\n' >"$demo/NOVUDownLoad.toml"

saved() { "$cfg" "$demo/NOVUDownLoad.cfg" | awk -v f="$1" '$1 == f {print $2}'; }
# The lowest number of a task that the site was asked for after line $1 of its log.
first_requested() {
    tail -n +"$(( $1 + 1 ))" "$work/site.log" | grep -o "/[0-9]*\.$2 " | tr -dc '0-9\n' | sort -n | head -n1
}

checked=0
for round in $(seq "$rounds"); do
    bbs_before="$(saved bbsNumber)" doc_before="$(saved documentNumber)"
    lines_before="$(wc -l <"$work/site.log")"
    (cd "$demo" && exec ./NOVUDownLoad) >"$work/app.out" 2>&1 &
    app_pid=$!
    pids+=($app_pid)
    find_main_window || fail "round $round: the main window did not appear: $(cat "$work/app.out")"
    press_return "$main"
    answer_box "the notice, round $round"
    for _ in $(seq 100); do [ "$(wc -l <"$work/site.log")" -gt "$lines_before" ] && break; sleep 0.05; done
    sleep "0.$(( RANDOM % 9 + 1 ))$(( RANDOM % 10 ))"
    kill -KILL "$app_pid"
    wait "$app_pid" 2>/dev/null

    [ "$(first_requested "$lines_before" xml)" = "$bbs_before" ] ||
        fail "round $round: the run did not go on at the saved BBS number $bbs_before"
    [ "$(first_requested "$lines_before" shtm)" = "$doc_before" ] ||
        fail "round $round: the run did not go on at the saved Document number $doc_before"
    [ "$(stat -c %s "$demo/NOVUDownLoad.cfg")" -eq 540 ] || fail "round $round: settings not 540 bytes"
    "$cfg" "$demo/NOVUDownLoad.cfg" >/dev/null || fail "round $round: settings file unreadable"
    while IFS= read -r file; do
        name="${file##*/}" number="${name%.*}" kind=xml
        [ "${name##*.}" = htm ] && kind=shtm
        cmp -s "$file" <("$site" --pad "$pad" --print "$kind" "$number") ||
            fail "round $round: $file is not the whole document"
        checked=$((checked + 1))
    done < <(find "$demo/xml_file" "$demo/html_file" -type f \( -name '*.xml' -o -name '*.htm' \))
done

# Every number below the saved one is stored whole: the next start, at the saved number, leaves
# nothing out.
for task in "xml bbsNumber 5000 xml_file xml" "shtm documentNumber 7000 html_file htm"; do
    read -r kind field first folder extension <<<"$task"
    last="$(saved "$field")"
    [ "$last" -gt "$first" ] || fail "the $field never moved past $first"
    for ((n = first; n < last; n++)); do
        [ -f "$demo/$folder/$((n / 1000))/$n.$extension" ] ||
            fail "$kind $n is below the saved $field $last but is not stored"
    done
done
# A start finishes the files the kills left (a run of one document each, ended cleanly).
"$novudl" --data "$demo" --bbs "$(saved bbsNumber)+1" --doc "$(saved documentNumber)+1" \
    >/dev/null 2>&1
[ -d "$modules/warcio" ] || fail "warcio is not installed in $modules (scripts/test installs it)"
for file in "$demo/archive/"*.warc.gz; do
    node "$modules/warcio/dist/cli.cjs" index "$file" >/dev/null || fail "$file does not read whole"
done
NODE_PATH="$modules" node "$(dirname "${BASH_SOURCE[0]}")/warc_check.cjs" "$demo/archive/"*.warc.gz \
    >"$work/archive.json" || fail "a kill left a bad record: $(grep -v '"ok"' "$work/archive.json")"
for task in "bbsNumber 5000 Expert/topic xml" "documentNumber 7000 develop/article shtm"; do
    read -r field first path extension <<<"$task"
    for ((n = first; n < $(saved "$field"); n++)); do
        grep -q "/$path/$((n / 1000))/$n.$extension\",.*\"status\":\"200\"" "$work/archive.json" ||
            fail "$n is stored below the saved $field but its response is not in the archive"
    done
done
echo "crash: $rounds kills, $checked files checked whole, settings at $(saved bbsNumber) and $(saved documentNumber), all in the archive"
