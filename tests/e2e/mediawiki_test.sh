#!/usr/bin/env bash
# novudl against real site software that nobody here wrote: MediaWiki from Debian, on SQLite,
# served by PHP on loopback, with 300 pages of which six are deleted in the middle. Page ids and
# raw wikitext end at the real end with the deleted ids listed; revisions, whose "not found" page
# is a 200 that names the number, do too without any rule; a rule that takes every page, a
# redirect on every number and a login page each stop the run with what helps, and no good
# copy is ever replaced. Exits 77 (skipped) where MediaWiki or PHP is missing.
#   mediawiki_test.sh novudl novucfg
set -uo pipefail
novudl="$(realpath "$1")" cfg="$(realpath "$2")"
work="$(mktemp -d)"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
wiki=/usr/share/mediawiki
command -v php >/dev/null && [ -f "$wiki/maintenance/install.php" ] ||
    skip "MediaWiki or PHP is not installed (scripts/test installs them)"
# grep reads all of it: one that quit at the match could leave php killed by SIGPIPE mid-list.
php -m | grep -i '^pdo_sqlite$' >/dev/null || skip "PHP has no SQLite"

# --- the wiki: installed, filled and served from $work ------------------------------------
port="$(free_port)" private_port="$(free_port)"
export MW_CONFIG_FILE="$work/LocalSettings.php"
php "$wiki/maintenance/install.php" --dbtype sqlite --dbpath "$work/db" --dbname wiki \
    --server "http://127.0.0.1:$port" --scriptpath "" --confpath "$work" \
    --pass 'A long admin password 1!' --lang en TestWiki Admin >"$work/install.txt" 2>&1 ||
    fail "MediaWiki did not install: $(tail -5 "$work/install.txt")"
mkdir "$work/pages"
for i in $(seq -w 1 300); do
    printf '== Page %s ==\nThis is page %s of the test wiki.\n[[Page %s]] comes before it.\n' \
        "$i" "$i" "$((10#$i - 1))" >"$work/pages/Page $i"
done
# One process for all: page n of the files is page id n + 1, the main page being id 1.
(cd "$work/pages" && ls | sort | tr '\n' '\0' | xargs -0 php "$wiki/maintenance/importTextFiles.php") \
    >"$work/import.txt" 2>&1 || fail "the pages were not imported: $(tail -3 "$work/import.txt")"
printf 'Page 100\nPage 101\nPage 102\nPage 150\nPage 151\nPage 200\n' >"$work/deleted.txt"
php "$wiki/maintenance/deleteBatch.php" "$work/deleted.txt" >"$work/delete.txt" 2>&1 ||
    fail "the pages were not deleted: $(cat "$work/delete.txt")"
deleted="101 102 103 151 152 201"
# The same wiki, but only for those who log in.
printf '<?php\nrequire "%s";\n$wgGroupPermissions["*"]["read"] = false;\n' \
    "$work/LocalSettings.php" >"$work/Private.php"
serve() {  # serve PORT SETTINGS
    (cd "$wiki" && MW_CONFIG_FILE="$2" PHP_CLI_SERVER_WORKERS=4 exec php -S "127.0.0.1:$1") \
        >"$work/php-$1.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.1
    done
    fail "PHP did not serve the wiki: $(cat "$work/php-$1.log")"
}
serve "$port" "$work/LocalSettings.php"
serve "$private_port" "$work/Private.php"
site="http://127.0.0.1:$port/index.php"

# mirror NAME URL [OPTION...]: novudl from 1 into a data folder of its own; sets status and
# folder.
mirror() {
    local name="$1" url="$2"
    shift 2
    folder="$work/$name"
    "$cfg" --data "$folder" set bbsUrl "$url" documentEnabled 0 bbsNumber 1 \
        bbs.path '{n}.page' >/dev/null || fail "novucfg refused $url"
    timeout 120 "$novudl" --data "$folder" --delay 10 --end-after 20 "$@" >"$work/$name.out" 2>&1 \
        </dev/null
    status=$?
    [ "$status" -ne 124 ] || fail "$name: novudl did not end: $(tail -3 "$work/$name.out")"
}
stored() { ls "$folder/xml_file" | wc -l; }
listed() { cut -f3 "$folder/failed.txt" 2>/dev/null | sort -n | tr '\n' ' ' | sed 's/ $//'; }
ends_at_the_end() {  # ends_at_the_end NAME: 295 stored, the six listed, 302 saved
    [ "$status" -eq 1 ] && [ "$(stored)" -eq 295 ] && [ "$(listed)" = "$deleted" ] ||
        fail "$1: exit $status, $(stored) stored, listed $(listed): $(cat "$work/$1.out")"
    "$cfg" --data "$folder" | grep -q "^bbsNumber *302 " || fail "$1: the end was not saved"
    grep -q "^bbs: end of the series at 302 " "$work/$1.out" || fail "$1: $(cat "$work/$1.out")"
}

# --- pages by id, and their raw wikitext, byte for byte ------------------------------------
mirror curid "$site?curid={n}"
ends_at_the_end curid
mirror raw "$site?curid={n}&action=raw"
ends_at_the_end raw
for n in 2 99 301; do
    curl -s "$site?curid=$n&action=raw" | cmp -s - "$folder/xml_file/$n.page" ||
        fail "raw: page $n is not what curl gets"
done
echo "mediawiki: pages by id and as raw wikitext stored, the deleted ones listed, the end saved"

# --- revisions: a 200 that names the number is the site's "not found", without any rule ----
mirror oldid "$site?oldid={n}"
ends_at_the_end oldid
grep -q "answers 200 for numbers it does not have" "$work/oldid.out" || fail "oldid: no warning"
echo "mediawiki: revisions stored exactly, their not-found pages known without a rule"

# --- a rule that takes every page stops the run, and says so ---------------------------------
printf "[bbs]\nmissing_if_body = 'does not exist'\n" >"$work/takes-all.toml"
mkdir -p "$work/rule" && cp "$work/takes-all.toml" "$work/rule/NOVUDownLoad.toml"
mirror rule "$site?curid={n}"
[ "$status" -eq 2 ] && grep -q "missing_if_body marks every page missing from 1 on (the first: $site?curid=1): check the rule" "$work/rule.out" ||
    fail "a rule that takes all: exit $status: $(cat "$work/rule.out")"
"$cfg" --data "$folder" | grep -q "^bbsNumber *1 " || fail "a rule that takes all moved the place"
echo "mediawiki: a rule that takes every page stops the run and names itself"

# --- every number moved, over the exchange that follows no redirect -------------------------
mirror moved "$site?title=Special:Redirect/page/{n}"
[ "$status" -eq 5 ] && grep -q "every document is moved (301): --http1.1 follows redirects" "$work/moved.out" ||
    fail "every number moved: exit $status: $(cat "$work/moved.out")"
[ ! -s "$folder/failed.txt" ] || fail "every number moved: they were listed"
mirror moved-1.1 "$site?title=Special:Redirect/page/{n}" --http1.1 --max-redirects 2
[ "$status" -eq 1 ] && [ "$(stored)" -eq 295 ] || fail "redirects over HTTP/1.1: exit $status, $(stored) stored"
echo "mediawiki: every number moved stops the run, and --http1.1 follows them"

# --- a login page answered with a 200 replaces no good copy ---------------------------------
folder="$work/raw"
before="$(cat "$folder"/xml_file/*.page | md5sum)"
"$cfg" --data "$folder" set bbsUrl "http://127.0.0.1:$private_port/index.php?curid={n}&action=raw" \
    >/dev/null || fail "novucfg"
timeout 60 "$novudl" --data "$folder" --bbs 2-20 --on-login-wall stop --wall-if-body 'Login required' \
    >"$work/private.out" 2>&1 </dev/null
status=$?
[ "$status" -eq 4 ] && grep -q "now shows its login page (wall_if_body)" "$work/private.out" ||
    fail "a login page: exit $status: $(cat "$work/private.out")"
timeout 60 "$novudl" --data "$folder" --bbs 2-20 --expect text/x-wiki >"$work/typed.out" 2>&1 </dev/null
status=$?
[ "$status" -eq 1 ] && grep -q "not the expected type (text/html)" "$folder/failed.txt" ||
    fail "a page of another type: exit $status: $(cat "$work/typed.out")"
[ "$(cat "$folder"/xml_file/*.page | md5sum)" = "$before" ] || fail "a login page replaced good copies"
echo "mediawiki: a login page answered with a 200 is a wall or a failure, and replaces nothing"
