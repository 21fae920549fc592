#!/bin/sh
# SPDX-License-Identifier: MIT
# End-to-end download benchmark: the whole download through ovk-host (start-up, wizard, every
# article marked, Finish) against ovk-refservice on loopback, for catalogues of 1,000 and 4,000
# generated articles (symbols, GER records, documents) and for one article carrying one large
# document (256 MiB unless BIG_MIB says otherwise; 0 leaves it out).
#
# Each download is set against its fair floor, measured in the same run: the same GetItemData
# replies fetched by a bare keep-alive libcurl loop, plus copying every byte the download wrote
# to a fresh folder, one more read and write of the final document, and a flush of the file
# system. Printed: wall time, peak memory of ovk-host and the ratios
#   download / fair floor          (target <= 1.3; <= 3 for the large document)
#   4,000 / 1,000 articles         (target <= 4.4)
#   peak / (2 x largest reply + 128 MB)   (target <= 1)
# and, for the first catalogue, the Finish rewrite of its document alone (as Finish runs it,
# knowing where the documents the saves wrote stand) against cat of the same file into a new
# one, a flush and the rename over it (target <= 1.3). After the large document, Init on the result must
# give 0. Processor time of both clients is printed too: on a machine shared with other work
# the wall times wander, the processor times much less. Each catalogue's download is also set
# against a zeep script doing the same job (bench/zeep_download.py; target <= 0.35).
# Usage: bench/download.sh BUILD_DIR [SIZES...]   (default sizes: 1000 4000)
set -eu

build=${1:?usage: download.sh BUILD_DIR [SIZES...]}
shift
sizes=${*:-1000 4000}
big_mib=${BIG_MIB:-256}
root=$(cd "$(dirname "$0")/.." && pwd)
host=$build/bin/ovk-host
service=$build/bin/ovk-refservice
bare=$build/bin/bare_item_fetch
rewrite=$build/bin/finish_rewrite_bench

. "$(dirname "$0")/lib.sh"
require_programs "$host" "$service" "$bare" "$rewrite"

# seconds_of COMMAND...: runs it and prints its wall time in seconds.
seconds_of() {
    start=$(date +%s.%N)
    "$@"
    end=$(date +%s.%N)
    python3 -c "print('%.3f' % ($end - $start))"
}

fair_floor_files() {
    cp -r "$1" "$2" && cat "$1/download.xml" >"$2/final-again.xml" && sync -f "$2"
}

# download CASE DIR: downloads every article of the catalogue in DIR/catalog into DIR/run and
# appends its figures to the results.
download() {
    case=$1
    dir=$2
    mkdir -p "$dir/run"
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

    write_download_document "$dir/run/download.xml" "$url" "$project" "$password"

    echo "== $case ($url)"
    # Warm the service's file cache so neither side pays for the first read of the documents.
    "$bare" --endpoint "$url" --project "$project" --password "$password" --lang "$lang" \
        --ids "$dir/ids" >/dev/null
    set -- $("$bare" --endpoint "$url" --project "$project" --password "$password" \
        --lang "$lang" --ids "$dir/ids")
    bare_seconds=$2
    reply_bytes=$4
    bare_cpu=$8
    largest=${10}

    # ovk-host: wall time and peak resident memory (kB) from GNU time.
    set --
    while IFS= read -r line; do set -- "$@" "$line"; done <"$dir/script"
    sync
    start=$(date +%s.%N)
    /usr/bin/time -f "%M %U %S" -o "$dir/maxrss" \
        "$host" run --batch --component-dir "$root/data" --settings-dir "$dir/settings" \
        "$@" "$dir/run/download.xml" >"$dir/events" 2>"$dir/host.err" </dev/null || {
        echo "ovk-host failed:" >&2; cat "$dir/host.err" "$dir/events" >&2; exit 1; }
    end=$(date +%s.%N)
    grep -q DownloadComplete "$dir/events" || { echo "no DownloadComplete" >&2; cat "$dir/events" >&2; exit 1; }
    # The peer, for the catalogues: the same download written with zeep, against the same
    # service in the same run.
    case "$case" in *articles)
        mkdir -p "$dir/zeep"
        zeep_seconds=$(/usr/bin/python3 "$root/bench/zeep_download.py" "$root/data/VelmoraSvr.wsdl" \
            "$url" "$project" "$password" "$lang" "$dir/ids" "$dir/zeep")
        echo "$case|$(python3 -c "print($end - $start)") $zeep_seconds" >>"$work/zeep"
        rm -rf "$dir/zeep" ;;
    esac
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
    pid=
    doc_bytes=$(stat -c %s "$dir/run/download.xml")
    articles=$(grep -c '<Articleinfo>' "$dir/run/download.xml" || true)
    files_seconds=$(seconds_of fair_floor_files "$dir/run" "$dir/floor")
    rm -rf "$dir/floor"
    echo "$case|$start $end $bare_seconds $files_seconds $(cat "$dir/maxrss") $doc_bytes $reply_bytes $articles $bare_cpu $largest" >>"$results"
}

results="$work/results"
: >"$results"
: >"$work/zeep"
first=
for n in $sizes; do
    dir="$work/$n"
    "$service" --generate "$n" --out "$dir/catalog" --seed 7 >/dev/null 2>&1
    download "$n articles" "$dir"
    if [ -z "$first" ]; then
        first=$n
        echo "Finish rewrite of the $n-article document alone, against cat + syncfs + rename of it:"
        "$rewrite" "$dir/run/download.xml" 4 | tee "$work/rewrite"
    fi
    rm -rf "$dir/catalog" "$dir/run"
done

if [ "$big_mib" -gt 0 ]; then
    dir="$work/big"
    "$service" --generate 1 --out "$dir/catalog" --seed 7 >/dev/null 2>&1
    # The one article carries one document of BIG_MIB MiB of incompressible bytes.
    head -c "$((big_mib * 1048576))" /dev/urandom >"$dir/catalog/docs/big.bin"
    python3 - "$dir/catalog/catalog.json" <<'PY'
import json, sys
catalog = json.load(open(sys.argv[1]))
project = catalog["projects"][0]
project["articles"] = project["articles"][:1]
project["articles"][0]["documents"] = [{"name": "big.bin", "file": "docs/big.bin"}]
json.dump(catalog, open(sys.argv[1], "w"))
PY
    download "1 article with a $big_mib MiB document" "$dir"
    cmp -s "$dir/run/big.bin" "$dir/catalog/docs/big.bin" || { echo "the large document arrived damaged" >&2; exit 1; }
    "$service" --catalog "$dir/catalog" >"$dir/out2" 2>/dev/null &
    pid=$!
    url=$(service_address "$dir/out2")
    sed -i "s|<URL>[^<]*</URL>|<URL>$url</URL>|" "$dir/run/download.xml"
    init=$("$host" run --batch --init-only --component-dir "$root/data" --settings-dir "$dir/settings" \
        "$dir/run/download.xml" </dev/null | tail -n 1)
    echo "Init on the finished document: $init (target {\"init\":0})"
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
    pid=
    rm -rf "$dir"
fi

python3 - "$results" <<'PY'
import sys
rows = {}
floors = {}
for line in open(sys.argv[1]):
    case, figures = line.rstrip("\n").split("|")
    (start, end, bare, files, rss_kb, user, system, doc, replies, articles, bare_cpu,
     largest) = figures.split()
    cpu = float(user) + float(system)
    wall = float(end) - float(start)
    floor = float(bare) + float(files)
    rows[case] = wall
    floors[case] = floor
    rss = int(rss_kb) * 1024
    bound = 2 * int(largest) + 128 * 2**20
    target = 3 if case.startswith("1 article") else 1.3
    print("%s: download %.2f s, fair floor %.2f s (fetch %.2f s of %.0f MB, files %.2f s), "
          "ratio %.2f (target <= %s)"
          % (case, wall, floor, float(bare), int(replies) / 2**20, float(files), wall / floor,
             target))
    print("    processor time: download %.2f s, bare fetch %.2f s"
          % (cpu, float(bare_cpu)))
    print("    peak memory %.0f MB, final document %.0f MB (%s articles), largest reply %.1f MB, "
          "peak / (2 x largest reply + 128 MB) = %.2f (target <= 1)"
          % (rss / 2**20, int(doc) / 2**20, articles, int(largest) / 2**20, rss / bound))
if "1000 articles" in rows and "4000 articles" in rows:
    # The floor's own growth shows what the machine adds: on a virtual machine, writing
    # gigabytes into memory it has not used lately costs more per byte than the first gigabyte.
    print("4,000 / 1,000 articles: %.2f (target <= 4.4); the fair floor's own: %.2f"
          % (rows["4000 articles"] / rows["1000 articles"],
             floors["4000 articles"] / floors["1000 articles"]))
PY
while IFS='|' read -r case figures; do
    set -- $figures
    python3 -c "print('%s: download %.2f s, a zeep script doing the same job %.2f s, ratio %.2f (target <= 0.35)' % ('$case', $1, $2, $1 / $2))"
done <"$work/zeep"
