#!/bin/sh
# SPDX-License-Identifier: MIT
# End-to-end download benchmark: the whole download through ovk-host (start-up, wizard, every
# article marked, Finish) against ovk-refservice on loopback, for catalogues of 1,000 and 4,000
# generated articles (symbols, GER records, documents) and for one article carrying one large
# document (256 MiB unless BIG_MIB says otherwise; 0 leaves it out).
#
# Each download is set against its floor in the same run: bench/bare_download, a bare libcurl
# program that posts the same start-up, structure and item requests over one kept-alive
# connection and writes the same files once (items appended to the document, payloads decoded
# with the component's codec, record lines), copies the final document once more and flushes
# the file system. The first catalogue is also set against a zeep script doing the same job
# (bench/zeep_download.py). Every side runs as a whole process timed the same way, after a
# flush of what the side before it wrote; the order of the sides turns round by round. Printed
# per round and then as min / median of the rounds' ratios:
#   download / floor               (target <= 1.3)
#   download / zeep script         (target <= 0.35)
# and the processor time, the peak memory against (2 x largest reply + 128 MB) for the
# catalogues and against 128 MB for the large document, the growth from 1,000 to 4,000
# articles beside the floor's own, and for the first catalogue the Finish rewrite of its
# document alone against cat + syncfs + rename of it. After the large document, Init on the
# result must give 0.
# Usage: bench/download.sh BUILD_DIR [SIZES...]   (default sizes: 1000 4000; ROUNDS=3)
set -eu

build=${1:?usage: download.sh BUILD_DIR [SIZES...]}
shift
sizes=${*:-1000 4000}
big_mib=${BIG_MIB:-256}
rounds=${ROUNDS:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
host=$build/bin/ovk-host
service=$build/bin/ovk-refservice
bare=$build/bin/bare_download
rewrite=$build/bin/finish_rewrite_bench

. "$(dirname "$0")/lib.sh"
require_programs "$host" "$service" "$bare" "$rewrite"

# timed CASE SIDE COMMAND...: runs COMMAND as a whole process after flushing what came before,
# and appends "CASE|SIDE wall peak-kB user system" to the results.
timed() {
    t_label=$1 t_side=$2
    shift 2
    sync
    start=$(date +%s.%N)
    /usr/bin/time -f "%M %U %S" -o "$dir/time" "$@" >"$dir/$t_side.out" 2>"$dir/$t_side.err" \
        </dev/null || { echo "$t_side failed:" >&2; cat "$dir/$t_side.err" "$dir/$t_side.out" >&2; exit 1; }
    end=$(date +%s.%N)
    echo "$t_label|$t_side $(python3 -c "print($end - $start)") $(tail -n 1 "$dir/time")" >>"$results"
}

# run_side CASE SIDE: one download by SIDE (host, floor or zeep) into the fresh folder
# DIR/SIDE.
run_side() {
    out="$dir/$2"
    rm -rf "$out"
    mkdir -p "$out"
    name=$1
    case $2 in
    host)
        write_download_document "$out/download.xml" "$url" "$project" "$password"
        set --
        while IFS= read -r line; do set -- "$@" "$line"; done <"$dir/script"
        timed "$name" host "$host" run --batch --component-dir "$root/data" \
            --settings-dir "$dir/settings" "$@" "$out/download.xml"
        grep -q DownloadComplete "$dir/host.out" ||
            { echo "no DownloadComplete" >&2; cat "$dir/host.out" >&2; exit 1; }
        # The other sides ask for the articles in the order the wizard did; the host runs first
        # in the first round.
        [ -e "$dir/ordered" ] || {
            python3 - "$out/download.xml" >"$dir/ids" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
print("\n".join(re.findall(r"<Articleinfo>\s*<Number>([^<]*)</Number>", text)))
PY
            touch "$dir/ordered"; } ;;
    floor)
        write_download_document "$out/download.xml" "$url" "$project" "$password"
        timed "$1" floor "$bare" --endpoint "$url" --project "$project" --password "$password" \
            --lang "$lang" --ids "$dir/ids" --document "$out/download.xml" --structure
        echo "$1|$(cat "$dir/floor.out")" >>"$work/floors" ;;
    zeep)
        timed "$1" zeep /usr/bin/python3 "$root/bench/zeep_download.py" \
            "$root/data/VelmoraSvr.wsdl" "$url" "$project" "$password" "$lang" "$dir/ids" "$out" ;;
    esac
}

# download CASE SIDES: ROUNDS rounds of every side against the catalogue in DIR/catalog, the
# first side of each round one further along than in the round before.
download() {
    label=$1
    sides=$2
    # The project's values and a wizard script that marks every article: one tree leaf per
    # product group.
    python3 - "$dir/catalog/catalog.json" "$dir" <<'PY'
import json, sys
project = json.load(open(sys.argv[1]))["projects"][0]
out = sys.argv[2]
groups = []
for article in project["articles"]:
    group = article["values"]["1"]
    if group not in groups:
        groups.append(group)
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
    echo "== $label ($url), $rounds rounds"
    round=0
    while [ "$round" -lt "$rounds" ]; do
        set -- $sides
        turn=0
        while [ "$turn" -lt "$round" ]; do first=$1; shift; set -- "$@" "$first"; turn=$((turn + 1)); done
        for side in "$@"; do run_side "$label" "$side"; done
        round=$((round + 1))
    done
    stop_service
    # The floor must write what the download writes; only the document's layout differs.
    if diff -rq -x download.xml "$dir/host" "$dir/floor" >"$dir/differing"; then
        echo "the floor wrote the same payload, symbol and GER files as the download"
    else
        echo "warning: the floor's files differ from the download's:" >&2
        head -n 5 "$dir/differing" >&2
    fi
    du -sb "$dir/host" "$dir/floor" | awk -v c="$label" '{print c "|" $1}' >>"$work/sizes"
    doc_bytes=$(stat -c %s "$dir/host/download.xml")
    articles=$(grep -c '<Articleinfo>' "$dir/host/download.xml" || true)
    echo "$label|$doc_bytes $articles" >>"$work/documents"
}

results="$work/results"
: >"$results"
: >"$work/floors"
: >"$work/sizes"
: >"$work/documents"
first=
for n in $sizes; do
    dir="$work/$n"
    "$service" --generate "$n" --out "$dir/catalog" --seed 7 >/dev/null 2>&1
    if [ -z "$first" ]; then
        download "$n articles" "host floor zeep"
        first=$n
        echo "Finish rewrite of the $n-article document alone, against cat + syncfs + rename of it:"
        "$rewrite" "$dir/host/download.xml" 4
    else
        download "$n articles" "host floor"
    fi
    rm -rf "$dir"
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
    download "1 article with a $big_mib MiB document" "host floor"
    for side in host floor; do
        cmp -s "$dir/$side/big.bin" "$dir/catalog/docs/big.bin" ||
            { echo "the large document arrived damaged ($side)" >&2; exit 1; }
    done
    serve_dir=$dir
    "$service" --catalog "$dir/catalog" >"$dir/out2" 2>/dev/null &
    pid=$!
    url=$(service_address "$dir/out2")
    sed -i "s|<URL>[^<]*</URL>|<URL>$url</URL>|" "$dir/host/download.xml"
    init=$("$host" run --batch --init-only --component-dir "$root/data" --settings-dir "$dir/settings" \
        "$dir/host/download.xml" </dev/null | tail -n 1)
    echo "Init on the finished document: $init (target {\"init\":0})"
    stop_service
    rm -rf "$serve_dir"
fi

python3 - "$results" "$work/floors" "$work/sizes" "$work/documents" <<'PY'
import statistics, sys
from collections import defaultdict

runs = defaultdict(lambda: defaultdict(list))
for line in open(sys.argv[1]):
    case, figures = line.rstrip("\n").split("|")
    if case == "warm-up":
        continue
    side, wall, rss, user, system = figures.split()
    runs[case][side].append((float(wall), int(rss) * 1024, float(user) + float(system)))
largest = {}
for line in open(sys.argv[2]):
    case, figures = line.rstrip("\n").split("|")
    words = figures.split()
    largest[case] = int(words[words.index("largest") + 1])
written = defaultdict(list)
for line in open(sys.argv[3]):
    case, size = line.rstrip("\n").split("|")
    written[case].append(int(size))
documents = {}
for line in open(sys.argv[4]):
    case, figures = line.rstrip("\n").split("|")
    documents[case] = [int(x) for x in figures.split()]

def spread(ratios):
    return "min %.2f median %.2f" % (min(ratios), statistics.median(ratios))

print("floor: a bare libcurl program posting the same start-up, structure and item requests over "
      "one kept-alive connection, writing the same files once (payloads through the component's "
      "codec), copying the final document once more, syncfs; each side a whole process")
medians = {}
for case, sides in runs.items():
    host, floor = sides["host"], sides["floor"]
    zeep = sides.get("zeep", [])
    print("%s:" % case)
    for i, (h, f) in enumerate(zip(host, floor)):
        line = "    round %d: download %.2f s, floor %.2f s, ratio %.2f" % (
            i + 1, h[0], f[0], h[0] / f[0])
        if i < len(zeep):
            line += "; zeep script %.2f s, ratio %.2f" % (zeep[i][0], h[0] / zeep[i][0])
        print(line)
    print("    download / floor: %s (target <= 1.3)"
          % spread([h[0] / f[0] for h, f in zip(host, floor)]))
    if zeep:
        print("    download / zeep script: %s (target <= 0.35)"
              % spread([h[0] / z[0] for h, z in zip(host, zeep)]))
    print("    processor time, median: download %.2f s, floor %.2f s"
          % (statistics.median(h[2] for h in host), statistics.median(f[2] for f in floor)))
    peak = max(h[1] for h in host)
    doc, articles = documents[case]
    if case.startswith("1 article"):
        bound, what = 128 * 2**20, "128 MB"
    else:
        bound, what = 2 * largest[case] + 128 * 2**20, "(2 x largest reply + 128 MB)"
    print("    peak memory %.0f MB (floor %.0f MB), final document %.0f MB (%d articles), "
          "largest reply %.1f MB, peak / %s = %.2f (target <= 1)"
          % (peak / 2**20, max(f[1] for f in floor) / 2**20, doc / 2**20, articles,
             largest[case] / 2**20, what, peak / bound))
    print("    files left: download %.0f MB, floor %.0f MB"
          % (written[case][0] / 2**20, written[case][1] / 2**20))
    medians[case] = (statistics.median(h[0] for h in host), statistics.median(f[0] for f in floor))
if "1000 articles" in medians and "4000 articles" in medians:
    small, large = medians["1000 articles"], medians["4000 articles"]
    print("4,000 / 1,000 articles (medians): download %.2f (target <= 4.4), the floor's own %.2f"
          % (large[0] / small[0], large[1] / small[1]))
PY
