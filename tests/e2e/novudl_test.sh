#!/usr/bin/env bash
# The headless runner against the sample site, one scenario a call:
#   range      a range ends by itself with exact counts and leaves the saved place alone, every
#              failed number is listed with its reason, --retry fetches exactly those, and lists
#              that are no failure report are refused
#   interrupt  Ctrl-C leaves no truncated file and a settings file the next run continues from
#              exactly; a stopped retry loses no number
#   lock       a second run on the folder is refused; closed streams and a reader that goes away
#              neither kill the run nor fill the log
#   series     a plain run ends at the end of its series and the next fetches only what is new
#   statuses   bad arguments and unwritable folders give their exit statuses
#   full-disk  a data folder on a full file system: the run stops by itself, and every number
#              below the saved place is stored or listed whole in failed.txt
#   probe      a site that never answers the look far past the start: Ctrl-C ends the look at
#              once, and left alone the run starts after 10 s and says why
#   novudl_test.sh SCENARIO novudl sample_site novucfg
set -uo pipefail
scenario="$1" novudl="$(realpath "$2")" site="$(realpath "$3")" cfg="$(realpath "$4")"
work="$(mktemp -d)"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# in_run SECONDS STEP COMMAND...: the command in the run folder, stopped after SECONDS and then
# failing with the step's name; its exit status in `status`.
in_run() {
    local seconds="$1" step="$2"
    shift 2
    (cd "$run" && exec timeout "$seconds" "$@")
    status=$?
    [ "$status" -ne 124 ] || fail "$step did not end within $seconds s"
}
# finish PID SECONDS STEP: waits for a run in the background; its exit status in `status`.
finish() {
    local pid="$1" seconds="$2" step="$3"
    for _ in $(seq $((seconds * 20))); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -0 "$pid" 2>/dev/null && { kill -KILL "$pid"; fail "$step did not end within $seconds s"; }
    wait "$pid"
    status=$?
}
# use_site [OPTION...]: a sample site for this scenario, named in the settings file.
use_site() {
    start_site 0 "$work/site.log" "$@" || fail "the sample site did not start"
    "$cfg" "$run/NOVUDownLoad.cfg" set bbsUrl "http://127.0.0.1:$site_port/Expert/topic" \
        documentUrl "http://127.0.0.1:$site_port/develop/article" >/dev/null || fail "novucfg"
}
requested() { grep -o "/[0-9]*\.$1 " "$work/site.log" | tr -dc '0-9\n' | sort -n; }

# A plain run, with its archive, whose data folder is a file system with room for a few dozen
# documents, in a mount namespace of its own; what it leaves is copied to $work/after before the file system goes.
full_disk() {
    unshare -rm true 2>/dev/null || skip "no mount namespace here for a small file system"
    start_site 0 "$work/site.log" || fail "the sample site did not start"
    local room=$(($(stat -c %s "$novudl") + 200 * 1024))
    unshare -rm bash -c '
        mount -t tmpfs -o size="$1" tmpfs "$2" || exit 90
        cp "$3" "$2/novudl" && cd "$2" || exit 91
        "$4" NOVUDownLoad.cfg set bbsUrl "http://127.0.0.1:$5/Expert/topic" documentEnabled 0 \
            >/dev/null || exit 92
        timeout 60 ./novudl --from-bbs 1000 --delay 1 --warc >"$6/out.txt" 2>"$6/err.txt"
        echo $? >"$6/status"
        rm novudl && cp -r . "$6/after"' \
        full "$room" "$run" "$novudl" "$cfg" "$site_port" "$work"
    [ -s "$work/status" ] || fail "the small file system could not be made ($?)"
    status="$(cat "$work/status")"
    [ "$status" -ne 124 ] || fail "a run on a full disk did not stop by itself"
    [ "$status" -eq 3 ] || fail "a run on a full disk exited $status: $(cat "$work/err.txt")"
    local after="$work/after"
    saved="$("$cfg" "$after/NOVUDownLoad.cfg" | awk '$1 == "bbsNumber" {print $2}')"
    [ "$(grep -c "" "$work/err.txt")" -eq 1 ] &&
        grep -q "^novudl: the disk holding $run.* is full: the run stopped at $saved; nothing was lost$" \
            "$work/err.txt" || fail "full disk told as: $(cat "$work/err.txt")"
    [ "$saved" -gt 1000 ] || fail "nothing was stored before the disk was full"
    if [ -e "$after/failed.txt" ]; then
        awk -F'\t' 'NF != 5 {exit 1}' "$after/failed.txt" || fail "a line of failed.txt is not whole"
    fi
    # The archive holds every record whole, and the answer of every number stored below the place.
    [ -d "${NOVU_NODE_MODULES:-}/warcio" ] || fail "warcio is not installed (scripts/test installs it)"
    NODE_PATH="$NOVU_NODE_MODULES" node "$(dirname "${BASH_SOURCE[0]}")/warc_check.cjs" \
        "$after/archive/"*.warc.gz >"$work/archive.json" ||
        fail "the full disk left a bad record: $(grep -v '"ok"' "$work/archive.json")"
    for ((n = 1000; n < saved; n++)); do
        if cmp -s "$after/xml_file/1/$n.xml" <("$site" --print xml "$n"); then
            grep -q "/$n.xml\",.*\"status\":\"200\"" "$work/archive.json" ||
                fail "$n is stored below the saved $saved but its answer is not in the archive"
            continue
        fi
        grep -q $'\tbbs\t'"$n"$'\t' "$after/failed.txt" 2>/dev/null ||
            fail "$n is below the saved $saved but neither stored nor in failed.txt"
    done
    echo "novudl full-disk: stopped at $saved with $(grep -c "" "$after/failed.txt" 2>/dev/null || echo 0) lines in failed.txt"
}

run="$work/run"
mkdir -p "$run"
cp "$novudl" "$run/novudl"
case "$scenario" in
range)
    use_site
    # --- a range: 5000..5119 of the forum topics, 7000..7019 of the articles ---------------------
    in_run 60 "a range" ./novudl --bbs 5000-5119 --doc 7000+20 --delay 1 >"$work/out.txt" 2>"$work/err.txt"
    [ "$status" -eq 1 ] || fail "a range with failures exited $status: $(cat "$work/err.txt")"
    grep -q "^140 requested, 134 stored, 6 failed$" "$work/out.txt" || fail "counts: $(cat "$work/out.txt")"
    ! grep -q $'[\r\x1b]' "$work/out.txt" || fail "output to a file is not plain lines"
    [ "$(requested xml | tr '\n' ' ')" = "$(seq -s ' ' 5000 5119) " ] || fail "not exactly the BBS range"
    [ "$(requested shtm | wc -l)" -eq 20 ] || fail "not exactly the Document range"
    expected="bbs 5013 status 404
bbs 5042 status 302 (moved to http://127.0.0.1/)
bbs 5077 body shorter than its Content-Length
bbs 5099 time limit
bbs 5113 status 404
document 7013 status 404"
    [ "$(awk -F'\t' '{print $2, $3, $5}' "$run/failed.txt" | sort -k2n)" = "$expected" ] ||
        fail "failed.txt: $(cat "$run/failed.txt")"
    awk -F'\t' 'NF != 5 {exit 1}' "$run/failed.txt" || fail "a line of failed.txt is not whole"
    for n in 5000 5118 7001; do
        case $n in 7*) kind=shtm file="$run/html_file/7/$n.htm" ;; *) kind=xml file="$run/xml_file/5/$n.xml" ;; esac
        cmp -s "$file" <("$site" --print "$kind" "$n") || fail "$file not stored byte for byte"
    done
    "$cfg" "$run/NOVUDownLoad.cfg" | grep -q "^bbsNumber *1318001 " && "$cfg" "$run/NOVUDownLoad.cfg" |
        grep -q "^documentEnabled *1$" || fail "a range moved the saved place: $("$cfg" "$run/NOVUDownLoad.cfg")"

    # --- --retry fetches exactly the failed numbers ----------------------------------------------
    cp "$run/failed.txt" "$work/failed-before.txt"
    before="$(wc -l <"$work/site.log")"
    in_run 60 "a retry" ./novudl --retry failed.txt --delay 1 >"$work/out.txt" 2>&1
    [ "$status" -eq 1 ] || fail "a retry of faults that stay exited $status"
    retried="$(tail -n +"$((before + 1))" "$work/site.log" | grep -o "/[0-9]*\.[a-z]* " | tr -dc '0-9\n' | sort -n | tr '\n' ' ')"
    [ "$retried" = "$(awk -F'\t' '{print $3}' "$work/failed-before.txt" | sort -n | tr '\n' ' ')" ] ||
        fail "retry fetched $retried"
    # Every number failed again: each is listed once, with the reason of this try.
    [ "$(awk -F'\t' '{print $2, $3, $5}' "$run/failed.txt" | sort -k2n)" = "$expected" ] ||
        fail "failed.txt after the retry: $(cat "$run/failed.txt")"
    [ "$(awk -F'\t' '{print $1}' "$run/failed.txt" | sort -u)" != "$(awk -F'\t' '{print $1}' "$work/failed-before.txt" | sort -u)" ] ||
        [ "$(wc -l <"$run/failed.txt")" -eq 6 ] || fail "the retry left old lines beside new ones"
    "$cfg" "$run/NOVUDownLoad.cfg" | grep -q "^bbsNumber *1318001 " || fail "a retry moved the saved number"
    # A failed.txt that takes no lines is told of, and never named as holding the failures.
    mv "$run/failed.txt" "$work/failed-kept.txt" && mkdir "$run/failed.txt"
    in_run 30 "a run whose failed.txt is a folder" ./novudl --bbs 5013+1 >"$work/out.txt" 2>"$work/err.txt"
    [ "$status" -eq 1 ] && grep -q "failed.txt cannot be written (it is not a regular file)" "$work/err.txt" &&
        ! grep -q "the failed numbers and why" "$work/out.txt" ||
        fail "a failed.txt that is a folder: $status, $(cat "$work/out.txt" "$work/err.txt")"
    rmdir "$run/failed.txt" && mv "$work/failed-kept.txt" "$run/failed.txt"
    # Lists that are no failure report, or that would hold the reader, are refused at once.
    printf '2026-01-01 00:00:00\tbbs\t-5\turl\treason\n' >"$work/negative.txt"
    printf '2026-01-01 00:00:00\tbbs\t 5\turl\treason\n' >"$work/spaced.txt"
    mkfifo "$work/fifo"
    for list in negative spaced fifo; do
        timeout 5 "$run/novudl" --retry "$work/$list${list/fifo/}" >/dev/null 2>"$work/err.txt"
        status=$?
        [ "$status" -eq 2 ] || fail "--retry of a $list list exited $status: $(cat "$work/err.txt")"
    done

    ;;
interrupt)
    use_site --faults none --pad 256 --drip 2
    "$cfg" "$run/NOVUDownLoad.cfg" set documentEnabled 0 >/dev/null
    # --- Ctrl-C mid-run: no truncated file, and the next run continues exactly ------------------
    (cd "$run" && exec ./novudl --from-bbs 9000) >"$work/out.txt" 2>&1 &
    runner=$!
    for _ in $(seq 200); do [ "$(ls "$run/xml_file/9" 2>/dev/null | wc -l)" -ge 5 ] && break; sleep 0.05; done
    kill -INT "$runner"
    finish "$runner" 30 "Ctrl-C"
    [ "$status" -eq 130 ] || fail "Ctrl-C exited $status"
    saved="$("$cfg" "$run/NOVUDownLoad.cfg" | awk '$1 == "bbsNumber" {print $2}')"
    [ "$saved" -gt 9000 ] || fail "nothing was fetched before Ctrl-C"
    for ((n = 9000; n < saved; n++)); do
        cmp -s "$run/xml_file/9/$n.xml" <("$site" --pad 256 --print xml "$n") || fail "$n is not whole"
    done
    for file in "$run"/xml_file/9/*.xml; do
        n="$(basename "$file" .xml)"
        cmp -s "$file" <("$site" --pad 256 --print xml "$n") || fail "$file is truncated"
    done
    before="$(wc -l <"$work/site.log")"
    in_run 30 "the run after Ctrl-C" ./novudl --bbs "$saved+3" --doc 0-0 >/dev/null 2>&1
    [ "$(tail -n +"$((before + 1))" "$work/site.log" | grep -o "/[0-9]*\.xml " | tr -dc '0-9\n' | sort -n | head -n1)" = "$saved" ] ||
        fail "the next run did not begin at the saved $saved"

    # --- an interrupted retry loses no number ---------------------------------------------------
    for n in $(seq 9500 9799); do
        printf '2026-01-01 00:00:00\tbbs\t%d\turl\tstatus 404\n' "$n"
    done >"$work/list.txt"
    rm -f "$run/failed.txt"
    (cd "$run" && exec ./novudl --retry "$work/list.txt") >"$work/out.txt" 2>&1 &
    runner=$!
    stored_so_far() { ls "$run/xml_file/9" | awk -F. '$1 >= 9500 && $1 < 9800' | wc -l; }
    for _ in $(seq 200); do [ "$(stored_so_far)" -ge 5 ] && break; sleep 0.05; done
    kill -INT "$runner"
    finish "$runner" 30 "Ctrl-C in a retry"
    for n in $(seq 9500 9799); do
        [ -f "$run/xml_file/9/$n.xml" ] && continue
        grep -q $'\tbbs\t'"$n"$'\t' "$run/failed.txt" || fail "$n was neither stored nor left in failed.txt"
    done
    stored="$(stored_so_far)"
    [ "$stored" -gt 0 ] && [ "$stored" -lt 300 ] || fail "the retry was not stopped midway ($stored stored)"
    ! grep -q $'\tbbs\t'"$(ls "$run/xml_file/9" | awk -F. '$1 >= 9500 && $1 < 9800 {print $1; exit}')"$'\t' "$run/failed.txt" ||
        fail "a stored number stayed in failed.txt"
    grep -q "not tried (stopped)" "$run/failed.txt" || fail "numbers never tried are not marked as such"
    echo "novudl: a stopped retry left $((300 - stored)) numbers in failed.txt, $stored stored"

    ;;
lock)
    use_site --faults none --pad 256 --drip 2
    "$cfg" "$run/NOVUDownLoad.cfg" set documentEnabled 0 >/dev/null
    # --- one run per folder ------------------------------------------------------------------------
    (cd "$run" && exec ./novudl --from-bbs 20000) >/dev/null 2>&1 &
    first=$!
    # The first run holds the lock once it asks for its first document.
    for _ in $(seq 100); do grep -q "/20/20000.xml" "$work/site.log" 2>/dev/null && break; sleep 0.05; done
    in_run 30 "a second run" ./novudl --bbs 1+1 >/dev/null 2>"$work/err.txt"
    [ "$status" -eq 3 ] && grep -q "another run is using" "$work/err.txt" ||
        fail "a second run on the folder gave $status: $(cat "$work/err.txt")"
    "$cfg" "$run/NOVUDownLoad.cfg" set timeout 3 >/dev/null 2>"$work/err.txt"
    status=$?
    [ "$status" -eq 2 ] && grep -q "another run is using" "$work/err.txt" ||
        fail "novucfg changed the settings under a run ($status)"
    kill -INT "$first"
    finish "$first" 30 "Ctrl-C of the first run"

    # --- closed streams and a reader that goes away --------------------------------------------
    rm -f "$run/debug.txt"
    in_run 30 "closed streams" ./novudl --bbs 30000+3 >&- 2>&-
    [ -z "$(grep -l "requested" "$run/debug.txt" 2>/dev/null)" ] || fail "the summary went into debug.txt"
    (cd "$run" && exec timeout 30 ./novudl --from-bbs 40000) | true
    status="${PIPESTATUS[0]}"
    [ "$status" -eq 130 ] || fail "a reader that went away ended the run with $status"
    saved="$("$cfg" "$run/NOVUDownLoad.cfg" | awk '$1 == "bbsNumber" {print $2}')"
    for ((n = 40000; n < saved; n++)); do
        cmp -s "$run/xml_file/40/$n.xml" <("$site" --pad 256 --print xml "$n") || fail "$n is not whole after the pipe closed"
    done

    ;;
series)
    # --- a series that ends: a plain run stops there, the next fetches only what is new ------------
    series_run() {  # series_run LAST [SITE OPTION...]: a plain run against a site whose series ends at LAST
        local last="$1"
        shift
        start_site 0 "$work/series.log" --faults none --last "$last" "$@" || fail "the series site did not start"
        "$cfg" "$run/NOVUDownLoad.cfg" set bbsUrl "http://127.0.0.1:$site_port/Expert/topic" \
            documentEnabled 0 >/dev/null
        in_run 60 "a run to the end of the series at $last" ./novudl --end-after 20 --poll 1 \
            >"$work/out.txt" 2>&1
        kill "${pids[-1]}"
        [ "$status" -eq 0 ] || fail "a run to the end of the series exited $status: $(cat "$work/out.txt")"
        grep -q "^bbs: end of the series at $((last + 1)) " "$work/out.txt" || fail "no end told: $(cat "$work/out.txt")"
        saved="$("$cfg" "$run/NOVUDownLoad.cfg" | awk '$1 == "bbsNumber" {print $2}')"
        [ "$saved" -eq "$((last + 1))" ] || fail "the end of the series at $((last + 1)) was saved as $saved"
    }
    "$cfg" "$run/NOVUDownLoad.cfg" set bbsNumber 50000 bbsEnabled 1 >/dev/null
    series_run 50199 --slow-down 100  # and asks to wait a second for every 100th number
    [ "$(ls "$run/xml_file/50" | wc -l)" -eq 200 ] || fail "not every document of the series was stored"
    [ "$(grep -c "/50/50100\.xml " "$work/series.log")" -eq 2 ] || fail "a number the site asked to wait for was not asked again once"
    past="$(grep -o "/[0-9]*\.xml " "$work/series.log" | tr -dc '0-9\n' | awk '$1 > 50199' | wc -l)"
    [ "$past" -le $((20 + 102 + 20)) ] || fail "$past numbers were asked past the end"
    : >"$work/series.log"
    series_run 50209  # ten more documents appear
    [ "$(grep -o "/[0-9]*\.xml " "$work/series.log" | tr -dc '0-9\n' | sort -n | head -n1)" = 50200 ] ||
        fail "the next run did not begin at the end of the series"
    [ "$(ls "$run/xml_file/50" | wc -l)" -eq 210 ] || fail "the ten new documents were not all stored"
    [ ! -s "$run/failed.txt" ] || ! grep -q $'\tbbs\t502' "$run/failed.txt" || fail "the end of the series went into failed.txt"

    ;;
statuses)
    # --- statuses --------------------------------------------------------------------------------
    grep -q "Usage: novudl" <<<"$("$run/novudl" --help)" || fail "--help"
    "$run/novudl" --bbs 5-3 2>/dev/null; [ $? -eq 2 ] || fail "a backwards range is not refused with 2"
    "$run/novudl" --bbs x 2>/dev/null; [ $? -eq 2 ] || fail "a bad range is not refused with 2"
    "$run/novudl" --retry "$work/none" 2>/dev/null; [ $? -eq 2 ] || fail "a missing report is not refused with 2"
    rm -rf "$run/html_file" && echo x >"$run/html_file"
    "$run/novudl" --doc 1-2 >/dev/null 2>"$work/err.txt"; status=$?
    [ "$status" -eq 3 ] && grep -q "html_file: Not a directory" "$work/err.txt" || fail "an unwritable folder gave $status"
    ;;
full-disk)
    full_disk
    ;;
probe)
    use_site --faults none --last 5000000 --silent-past-the-end
    "$cfg" "$run/NOVUDownLoad.cfg" set documentEnabled 0 >/dev/null
    asked_far() { grep -q "/10001/10001000\.xml " "$work/site.log" 2>/dev/null; }
    # --- Ctrl-C while the site keeps the look waiting -----------------------------------------
    (cd "$run" && exec ./novudl --from-bbs 1000 --delay 0) >"$work/out.txt" 2>"$work/err.txt" &
    runner=$!
    pids+=("$runner")
    for _ in $(seq 100); do asked_far && break; sleep 0.05; done
    asked_far || fail "the run did not look far past its start"
    kill -INT "$runner"
    finish "$runner" 3 "Ctrl-C during the look"
    [ "$status" -eq 130 ] || fail "Ctrl-C during the look exited $status: $(cat "$work/err.txt")"
    [ ! -d "$run/xml_file/1" ] || fail "documents were fetched after Ctrl-C"
    # --- left alone, the look ends after 10 s and the run goes on -------------------------------
    started=$SECONDS
    (cd "$run" && exec ./novudl --from-bbs 1000 --delay 0) >"$work/out.txt" 2>"$work/err.txt" &
    runner=$!
    pids+=("$runner")
    for _ in $(seq 400); do [ -f "$run/xml_file/1/1010.xml" ] && break; sleep 0.05; done
    [ -f "$run/xml_file/1/1010.xml" ] || fail "the run did not go on after the look: $(cat "$work/err.txt")"
    took=$((SECONDS - started))
    [ "$took" -ge 9 ] && [ "$took" -le 14 ] || fail "the look held the run $took s, not 10"
    grep -q "did not answer within 10 s for a number far past the start" "$work/err.txt" ||
        fail "the run did not say why it waited: $(cat "$work/err.txt")"
    kill -INT "$runner"
    finish "$runner" 10 "Ctrl-C after the look"
    [ "$status" -eq 130 ] || fail "Ctrl-C after the look exited $status"
    ;;
*) fail "no scenario $scenario" ;;
esac
echo "novudl $scenario: as documented"
