#!/bin/sh
# SPDX-License-Identifier: MIT
# Continuing a stopped download against the whole download, in the same run: a catalogue of
# 4,000 generated articles (3.1 GB of document) downloaded whole through ovk-host, then the
# same download stopped after 3,000 articles (the service fails the 3,001st for good, as a
# failure that persisted would) and continued with `ovk-host run --continue` against the
# healthy service. The continued files must equal the whole download's; the figure printed is
#   continue / whole download     (target <= 0.3)
# for every round, then min / median. The two subjects alternate within each round.
#
# Both subjects download over a line of LINE_KBPS kilobits a second (default 100,000: a good
# office line; the service shares it among its replies). The stop itself is prepared at
# loopback speed and not timed. Whatever the line, a continued download pays twice for the
# whole document where the whole download pays once: Init reads the 2.4 GB the stopped run
# saved, and Finish rewrites all of it in both. On loopback those dominate (the articles cost
# about as much as the two passes); the figure printed last is Init alone on the stopped
# document, to tell them apart. LINE_KBPS=0 takes loopback speed.
# Usage: bench/continue.sh BUILD_DIR [ARTICLES [STOP_AFTER [ROUNDS]]]
set -eu

build=${1:?usage: continue.sh BUILD_DIR [ARTICLES [STOP_AFTER [ROUNDS]]]}
articles=${2:-4000}
stop_after=${3:-3000}
rounds=${4:-2}
line_kbps=${LINE_KBPS:-100000}
root=$(cd "$(dirname "$0")/.." && pwd)
host=$build/bin/ovk-host
service=$build/bin/ovk-refservice

. "$(dirname "$0")/lib.sh"
require_programs "$host" "$service"

"$service" --generate "$articles" --out "$work/catalog" --seed 7 >/dev/null 2>&1
# The project's values, the identifier of the article the stop comes before, and a wizard
# script that marks every article: one tree leaf per product group.
python3 - "$work/catalog/catalog.json" "$work" "$stop_after" <<'PY'
import json, sys
project = json.load(open(sys.argv[1]))["projects"][0]
out, stop_after = sys.argv[2], int(sys.argv[3])
groups = []
for article in project["articles"]:
    group = article["values"]["1"]
    if group not in groups:
        groups.append(group)
ids = [a["id"] for g in groups for a in project["articles"] if a["values"]["1"] == g]
open(out + "/stop_id", "w").write(ids[stop_after] + "\n")
open(out + "/project", "w").write("%s %s\n" % (project["id"], project.get("password", "")))
script = ["--fields", "Product group"]
for g in groups:
    script += ["--leaf", g, "--mark", "all"]
script.append("--finish")
open(out + "/script", "w").write("\n".join(script) + "\n")
PY
read -r project password <"$work/project"
stop_id=$(cat "$work/stop_id")

throttle=
[ "$line_kbps" -gt 0 ] && throttle="--bandwidth-kbps $line_kbps"

# host DIR ARGS...: ovk-host on DIR's document; prints its wall time in seconds.
host() {
    dir=$1
    shift
    sync
    start=$(date +%s.%N)
    "$host" run --batch --component-dir "$root/data" --settings-dir "$work/settings" "$@" \
        "$dir/download.xml" >"$dir.events" 2>"$dir.err" </dev/null || true
    end=$(date +%s.%N)
    python3 -c "print('%.3f' % ($end - $start))"
}

set --
while IFS= read -r line; do set -- "$@" "$line"; done <"$work/script"

serve
# Warm the service's file cache, so that the first subject does not pay for it.
document "$work/warm"
host "$work/warm" "$@" >/dev/null
rm -rf "$work/warm"
stop_service

ratios=
round=1
while [ "$round" -le "$rounds" ]; do
    for subject in $( [ $((round % 2)) -eq 1 ] && echo "whole continue" || echo "continue whole"); do
        case $subject in
        whole)
            serve $throttle
            document "$work/whole"
            whole_seconds=$(host "$work/whole" "$@")
            stop_service
            grep -q DownloadComplete "$work/whole.events" || { echo "the whole download failed" >&2; cat "$work/whole.err" >&2; exit 1; }
            ;;
        continue)
            # The stop: the article after the first STOP_AFTER fails for good.
            serve --fault "GetItemData=soapfault@$stop_id"
            document "$work/stopped"
            host "$work/stopped" "$@" >/dev/null
            saved=$(grep -c '<Articleinfo>' "$work/stopped/download.xml" || true)
            [ "$saved" -eq "$stop_after" ] || { echo "stopped after $saved articles, not $stop_after" >&2; exit 1; }
            stop_service
            serve $throttle
            # The document names the service it was made for; the new one listens elsewhere.
            sed -i "s|<URL>[^<]*</URL>|<URL>$url</URL>|" "$work/stopped/download.xml"
            # Init alone on the stopped document: the part of a continued download a faster
            # line does not shrink.
            init_seconds=$(host "$work/stopped" --init-only)
            continue_seconds=$(host "$work/stopped" --continue)
            stop_service
            grep -q DownloadComplete "$work/stopped.events" || { echo "the continued download failed" >&2; cat "$work/stopped.err" >&2; exit 1; }
            ;;
        esac
    done
    # The same files as the whole download, the URL line aside.
    sed -i "s|<URL>[^<]*</URL>|<URL></URL>|" "$work/whole/download.xml" "$work/stopped/download.xml"
    diff -r "$work/whole" "$work/stopped" >/dev/null || { echo "the continued files differ from the whole download's" >&2; exit 1; }
    ratio=$(python3 -c "print('%.3f' % ($continue_seconds / $whole_seconds))")
    echo "round $round: whole ${whole_seconds}s, continue after $stop_after of $articles ${continue_seconds}s (Init alone ${init_seconds}s): ratio $ratio"
    ratios="$ratios $ratio"
    round=$((round + 1))
done
python3 - "$line_kbps" $ratios <<'PY'
import statistics, sys
line = int(sys.argv[1])
r = sorted(float(x) for x in sys.argv[2:])
print("continue / whole download over %s: min %.3f / median %.3f (target <= 0.3)" % (
    "%d Mbit/s" % (line // 1000) if line else "loopback", r[0], statistics.median(r)))
sys.exit(0 if statistics.median(r) <= 0.3 else 1)
PY
