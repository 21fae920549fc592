#!/bin/sh
# End-to-end download benchmark: for catalogues of 1,000 and 4,000 generated articles (symbols,
# GER records, documents), the whole download through ovk-host (start-up, wizard, every
# article marked, Finish) against ovk-refservice on loopback, and the same GetItemData replies
# fetched by a bare keep-alive libcurl loop in the same run. Prints wall time and peak memory
# of ovk-host, the size of the finished download document, and the three ratios:
#   download / bare fetch (target <= 1.3), 4,000 / 1,000 articles (target <= 4.4),
#   peak memory / (1.5 x final document + 48 MB) (target <= 1),
# and the download against a zeep script doing the same job (bench/zeep_download.py; target
# <= 0.35).
# Processor time of both clients is printed too: on a machine shared with other work the wall
# times wander, the processor times much less.
# Usage: bench/download.sh BUILD_DIR [SIZES...]   (default sizes: 1000 4000)
set -eu

build=${1:?usage: download.sh BUILD_DIR [SIZES...]}
shift
sizes=${*:-1000 4000}
root=$(cd "$(dirname "$0")/.." && pwd)
host=$build/bin/ovk-host
service=$build/bin/ovk-refservice
bare=$build/bin/bare_item_fetch
for program in "$host" "$service" "$bare"; do
    [ -x "$program" ] || { echo "missing $program (build ovk-host, ovk-refservice, bare_item_fetch)" >&2; exit 1; }
done

. "$(dirname "$0")/lib.sh"

results="$work/results"
: >"$results"
for n in $sizes; do
    dir="$work/$n"
    mkdir -p "$dir/run"
    "$service" --generate "$n" --out "$dir/catalog" --seed 7 >/dev/null 2>&1

    # The project's values, every article identifier, and a wizard script that marks them
    # all: one tree leaf per product group.
    python3 - "$dir/catalog/catalog.json" "$dir" <<'PY'
import json, sys
project = json.load(open(sys.argv[1]))["projects"][0]
out = sys.argv[2]
groups = []
for article in project["articles"]:
    group = article["values"]["1"]
    if group not in groups:
        groups.append(group)
ids = [a["id"] for a in project["articles"] if a["values"]["1"] in groups]
open(out + "/ids", "w").write("\n".join(ids) + "\n")
open(out + "/project", "w").write("%s %s %s\n" % (project["id"], project.get("password", ""), project["languages"][0]))
script = ["--fields", "Product group"]
for g in groups:
    script += ["--leaf", g, "--mark", "all"]
script.append("--finish")
open(out + "/script", "w").write("\n".join(script) + "\n")
PY
    read -r project password lang <"$dir/project"

    "$service" --catalog "$dir/catalog" >"$dir/out" 2>"$dir/service.log" &
    pid=$!
    url=$(service_address "$dir/out")

    cat >"$dir/run/download.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<Download>
  <System>TARVO</System>
  <URL>$url</URL>
  <ProjectID>$project</ProjectID>
  <Language>English</Language>
  <Password>$password</Password>
  <Project>
    <Symbolfile>symbols.txt</Symbolfile>
    <Gerfile>ger.txt</Gerfile>
  </Project>
</Download>
XML

    echo "== $n articles ($url)"
    # Warm the service's file cache so neither side pays for the first read of the documents.
    "$bare" --endpoint "$url" --project "$project" --password "$password" --lang "$lang" \
        --ids "$dir/ids" >/dev/null
    set -- $("$bare" --endpoint "$url" --project "$project" --password "$password" \
        --lang "$lang" --ids "$dir/ids")
    bare_seconds=$2
    reply_bytes=$4
    bare_cpu=$8

    # ovk-host: wall time and peak resident memory (kB) from GNU time.
    set --
    while IFS= read -r line; do set -- "$@" "$line"; done <"$dir/script"
    start=$(date +%s.%N)
    /usr/bin/time -f "%M %U %S" -o "$dir/maxrss" \
        "$host" run --batch --component-dir "$root/data" --settings-dir "$dir/settings" \
        "$@" "$dir/run/download.xml" >"$dir/events" 2>"$dir/host.err" </dev/null || {
        echo "ovk-host failed:" >&2; cat "$dir/host.err" "$dir/events" >&2; exit 1; }
    end=$(date +%s.%N)
    grep -q DownloadComplete "$dir/events" || { echo "no DownloadComplete" >&2; cat "$dir/events" >&2; exit 1; }
    # The peer: the same download written with zeep, against the same service in the same run.
    mkdir -p "$dir/zeep"
    zeep_seconds=$(/usr/bin/python3 "$root/bench/zeep_download.py" "$root/data/VelmoraSvr.wsdl" \
        "$url" "$project" "$password" "$lang" "$dir/ids" "$dir/zeep")
    echo "$n $(python3 -c "print($end - $start)") $zeep_seconds" >>"$work/zeep"
    doc_bytes=$(stat -c %s "$dir/run/download.xml")
    articles=$(grep -c '<Articleinfo>' "$dir/run/download.xml" || true)
    echo "$n $start $end $bare_seconds $(cat "$dir/maxrss") $doc_bytes $reply_bytes $articles $bare_cpu" >>"$results"

    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
    pid=
    rm -rf "$dir/catalog" "$dir/run" "$dir/zeep"
done

python3 - "$results" <<'PY'
import sys
rows = {}
for line in open(sys.argv[1]):
    n, start, end, bare, rss_kb, user, system, doc, replies, articles, bare_cpu = line.split()
    cpu = float(user) + float(system)
    n = int(n)
    wall = float(end) - float(start)
    rows[n] = wall
    rss = int(rss_kb) * 1024
    budget = 1.5 * int(doc) + 48 * 2**20
    print("%5d articles: download %.2f s, bare fetch %.2f s (%.0f MB of replies), ratio %.2f (target <= 1.3)"
          % (n, wall, float(bare), int(replies) / 2**20, wall / float(bare)))
    print("               processor time: download %.2f s, bare fetch %.2f s, ratio %.2f "
          "(the wall-time ratio counts the service's work too; this one only the clients')"
          % (cpu, float(bare_cpu), cpu / max(float(bare_cpu), 0.001)))
    print("               peak memory %.0f MB, final document %.0f MB (%s articles), "
          "peak / (1.5 x document + 48 MB) = %.2f (target <= 1)"
          % (rss / 2**20, int(doc) / 2**20, articles, rss / budget))
if 1000 in rows and 4000 in rows:
    print("4,000 / 1,000 articles: %.2f (target <= 4.4)" % (rows[4000] / rows[1000]))
PY
while read -r n ours zeep_seconds; do
    python3 -c "print('%5d articles: download %.2f s, a zeep script doing the same job %.2f s, ratio %.2f (target <= 0.35)' % ($n, $ours, $zeep_seconds, $ours / $zeep_seconds))"
done <"$work/zeep"
