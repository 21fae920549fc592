#!/bin/sh
# SPDX-License-Identifier: MIT
# What a hostile network and hard stops cost a whole download through ovk-host, against
# ovk-refservice on loopback with a generated catalogue (200 articles unless told otherwise):
#   - replies cut halfway (the connection closed inside the body) at 10 random articles: the
#     exit status, and whether the files equal those of an undisturbed run;
#   - a service that serves one keep-alive connection at a time: its download's wall time set
#     against the same download from the usual service, rounds alternating;
#   - 30 downloads (replies held back 20 ms) killed with SIGKILL at random moments: the next
#     Init's result, the hidden files left after it (the plan kept to continue the download
#     aside), and whether the record files hold exactly the records of the articles the
#     document kept.
# Usage: bench/network_faults.sh BUILD_DIR [ARTICLES]
set -eu

build=${1:?usage: network_faults.sh BUILD_DIR [ARTICLES]}
articles=${2:-200}
root=$(cd "$(dirname "$0")/.." && pwd)
host=$build/bin/ovk-host
service=$build/bin/ovk-refservice

. "$(dirname "$0")/lib.sh"
require_programs "$host" "$service"

"$service" --generate "$articles" --out "$work/catalog" --seed 26 >/dev/null
python3 - "$work/catalog/catalog.json" "$work" <<'PY'
import json, random, sys
project = json.load(open(sys.argv[1]))["projects"][0]
out = sys.argv[2]
groups = []
for article in project["articles"]:
    if article["values"]["1"] not in groups:
        groups.append(article["values"]["1"])
script = ["--fields", "Product group"]
for g in groups:
    script += ["--leaf", g, "--mark", "all"]
script.append("--finish")
open(out + "/script", "w").write("\n".join(script) + "\n")
open(out + "/project", "w").write("%s %s\n" % (project["id"], project.get("password", "")))
ids = [a["id"] for a in project["articles"]]
random.seed(26)
open(out + "/cut", "w").write(" ".join(random.sample(ids, 10)) + "\n")
PY
read -r project password <"$work/project"

# download DIR: the whole download into DIR/download.xml; its exit status.
download() {
    into=$1
    set --
    while IFS= read -r line; do set -- "$@" "$line"; done <"$work/script"
    "$host" run --batch --component-dir "$root/data" --settings-dir "$work/settings" \
        "$@" "$into/download.xml" >"$into.events" 2>/dev/null </dev/null
}

# comparable DIR: the files of DIR, the service's address (a new port each run) left out.
comparable() {
    (cd "$1" && for f in $(ls -A | sort); do echo "== $f"; sed "s|$url||" "$f" | md5sum; done)
}

# An undisturbed run, the reference.
serve
document "$work/clean"
download "$work/clean"
comparable "$work/clean" >"$work/clean.sum"
stop_service

set --
for id in $(cat "$work/cut"); do set -- "$@" --fault "GetItemData=truncated@${id}x1"; done
serve "$@"
document "$work/cut-run"
status=0
download "$work/cut-run" || status=$?
comparable "$work/cut-run" >"$work/cut.sum"
same=no
cmp -s "$work/clean.sum" "$work/cut.sum" && same=yes
stop_service
echo "replies cut halfway at 10 of $articles articles: exit $status, files identical to an undisturbed run: $same"

echo "one connection at a time against the usual service, $articles articles (seconds):"
echo "  (one at a time: the usual service with MaxRequestsInFlight=1, what such a server allows)"
: >"$work/rounds"
for round in 1 2 3; do
    case $round in
        1) modes="usual one single" ;;
        2) modes="one single usual" ;;
        3) modes="single usual one" ;;
    esac
    for mode in $modes; do
        case $mode in
            one) serve --one-connection ;;
            *) serve ;;
        esac
        if [ "$mode" = single ]; then
            mkdir -p "$work/settings"
            printf '[Settings]\nMaxRequestsInFlight=1\n' >"$work/settings/VelmoraDotNet.ini"
        fi
        document "$work/$mode"
        start=$(date +%s.%N)
        download "$work/$mode"
        end=$(date +%s.%N)
        rm -f "$work/settings/VelmoraDotNet.ini"
        stop_service
        eval "t_$mode=\$(python3 -c \"print('%.2f' % ($end - $start))\")"
    done
    echo "  round $round: usual $t_usual  one connection $t_one  one at a time $t_single"
    echo "$t_usual $t_one $t_single" >>"$work/rounds"
done
python3 - "$work/rounds" <<'PY'
import statistics, sys
rounds = [[float(x) for x in line.split()] for line in open(sys.argv[1])]
for name, column in (("one connection", 1), ("one at a time", 2)):
    ratios = [r[column] / r[0] for r in rounds]
    print("  %s / usual: min %.2f median %.2f" % (name, min(ratios), statistics.median(ratios)))
PY

# The records a document's articles should have left, in its order, as the symbol and GER
# files hold them.
python3 - "$work/catalog/catalog.json" >"$work/records.py" <<'PY'
import sys
print("catalog = %r" % sys.argv[1])
PY
cat >>"$work/records.py" <<'PY'
import json, re, sys
project = json.load(open(catalog))["projects"][0]
by_id = {a["id"]: a for a in project["articles"]}
doc = open(sys.argv[1], encoding="utf-8").read()
kept = re.findall(r"<Articleinfo>\s*<[^>]+>([^<]*)<", doc)
def expected(kind, symbols):
    out, lines = "", []
    for i in kept:
        for record in by_id[i].get(kind, []):
            first = record.split("\n")[0] if "\n" in record else ""
            if len(first) >= 8 and any(l.lower() == first.lower() for l in lines):
                continue
            if out == "" and symbols:
                out = " \r\n"
            if out and not out.endswith("\n"):
                out += "\r\n"
            if symbols:
                out += " \r\n"
            out += record.replace("\n", "\r\n")
            lines = out.split("\r\n")
    return out
def actual(name):
    try:
        return open(name, encoding="cp1252", newline="").read()
    except FileNotFoundError:
        return ""
folder = sys.argv[1].rsplit("/", 1)[0]
ok = expected("symbols", True) == actual(folder + "/symbols.txt") and \
     expected("gers", False) == actual(folder + "/ger.txt")
print("%d %s" % (len(kept), "exact" if ok else "DIFFERENT"))
PY

# Each reply held back a little, so that the kills fall inside the download.
serve --latency-ms 20
echo "the undisturbed run's record files: $(python3 "$work/records.py" "$work/clean/download.xml")"
hidden_total=0
plans=0
inexact=0
failed_inits=0
kept_counts=
for round in $(seq 30); do
    document "$work/kill"
    (
        set --
        while IFS= read -r line; do set -- "$@" "$line"; done <"$work/script"
        exec "$host" run --batch --component-dir "$root/data" --settings-dir "$work/settings" \
            "$@" "$work/kill/download.xml" >/dev/null 2>&1 </dev/null
    ) &
    killed=$!
    sleep "$(python3 -c "import random; print('%.3f' % random.uniform(0.05, 1.5))")"
    kill -KILL "$killed" 2>/dev/null || true
    wait "$killed" 2>/dev/null || true
    "$host" run --init-only --batch --component-dir "$root/data" --settings-dir "$work/settings" \
        "$work/kill/download.xml" >"$work/init" 2>/dev/null </dev/null || true
    tail -n 1 "$work/init" | grep -q '"init":0' || failed_inits=$((failed_inits + 1))
    # The plan stays on purpose: it is what lets the stopped download be continued.
    hidden=$(find "$work/kill" -name '.*' ! -name '.download.xml.ovk-plan' | wc -l)
    [ -e "$work/kill/.download.xml.ovk-plan" ] && plans=$((plans + 1))
    hidden_total=$((hidden_total + hidden))
    set -- $(python3 "$work/records.py" "$work/kill/download.xml")
    kept_counts="$kept_counts $1"
    [ "$2" = exact ] || inexact=$((inexact + 1))
done
stop_service
echo "30 random kills: Init not 0: $failed_inits, hidden files left: $hidden_total (besides $plans plans kept to continue), record files not exact: $inexact"
echo "  articles kept:$kept_counts"
