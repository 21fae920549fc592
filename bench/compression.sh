#!/bin/sh
# SPDX-License-Identifier: MIT
# Compressed transfers on a company line: 250 generated articles served by ovk-refservice over
# a link of 20 Mbit/s that all its replies share, downloaded through ovk-host (every article
# marked, Finish) from two services on the same catalogue in the same run: one that compresses
# its replies (--gzip) and one that does not. Times the Finish step (from the wizard reaching
# its last step to DownloadComplete) and the whole run; checks both runs wrote the same
# download document and files; prints each round's ratio compressed / uncompressed and their
# min / median (target <= 0.8). ROUNDS rounds (default 3), the two services in turn, the first
# of them changing every round.
# Usage: bench/compression.sh BUILD_DIR [ARTICLES] [KBPS] [ROUNDS]
set -eu

build=${1:?usage: compression.sh BUILD_DIR [ARTICLES] [KBPS] [ROUNDS]}
articles=${2:-250}
kbps=${3:-20000}
rounds=${4:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
host=$build/bin/ovk-host
service=$build/bin/ovk-refservice

. "$(dirname "$0")/lib.sh"
require_programs "$host" "$service"

"$service" --generate "$articles" --out "$work/catalog" --seed 7 >/dev/null 2>&1
"$service" --catalog "$work/catalog" --bandwidth-kbps "$kbps" >"$work/plain.out" 2>/dev/null &
pid=$!
plain=$(service_address "$work/plain.out")
"$service" --catalog "$work/catalog" --bandwidth-kbps "$kbps" --gzip >"$work/gzip.out" 2>/dev/null &
gzip_pid=$!
trap 'kill "$gzip_pid" 2>/dev/null; cleanup' EXIT INT TERM
compressed=$(service_address "$work/gzip.out")

python3 - "$host" "$root/data" "$work" "$plain" "$compressed" "$rounds" "$kbps" "$root/bench" <<'PY'
import filecmp, json, os, statistics, subprocess, sys, time

host, data, work, plain, compressed, rounds, kbps, bench = sys.argv[1:9]
sys.path.insert(0, bench)
from generated_catalogue import load_project, prepare_run, wizard_script

project = load_project(work)
script = wizard_script(project)

def run(name, url):
    folder = os.path.join(work, name)
    document = prepare_run(folder, url, project)
    trace = os.path.join(folder, "trace")
    start = time.monotonic()
    process = subprocess.Popen(
        [host, "run", "--batch", "--component-dir", data, "--settings-dir",
         os.path.join(folder, "settings"), "--trace", trace] + script + [document],
        stdout=subprocess.PIPE, stderr=open(os.path.join(folder, "host.err"), "w"), stdin=subprocess.DEVNULL, text=True)
    finish_start = finish_end = None
    for line in process.stdout:
        now = time.monotonic()
        event = json.loads(line) if line.startswith("{") else {}
        if event.get("event") == "StepChanged" and event.get("step") == 2:
            finish_start = now
        elif event.get("event") == "DownloadComplete":
            finish_end = now
    status = process.wait()
    end = time.monotonic()
    if status != 0 or finish_start is None or finish_end is None:
        sys.exit("ovk-host failed (status %d) against %s: %s"
                 % (status, url, open(os.path.join(folder, "host.err")).read()))
    wire = inflated = 0
    for line in open(trace):
        entry = json.loads(line)
        if entry["operation"] == "GetItemData":
            wire += entry["received"]
            inflated += entry["inflated"]
    return finish_end - finish_start, end - start, os.path.join(folder, "run"), wire, inflated

results = {"plain": [], "gzip": []}
for round in range(int(rounds)):
    sides = (("plain", plain), ("gzip", compressed))
    for name, url in sides if round % 2 == 0 else sides[::-1]:
        results[name].append(run("%s%d" % (name, round), url))

print("%d articles over a %s kbit/s link, %s rounds, the two in turn (machine shared with other work)"
      % (len(project["articles"]), kbps, rounds))
for round, (p, g) in enumerate(zip(results["plain"], results["gzip"])):
    print("  round %d: Finish gzip %.2f s, uncompressed %.2f s, ratio %.2f; whole run ratio %.2f"
          % (round + 1, g[0], p[0], g[0] / p[0], g[1] / p[1]))
median = {}
for name, label in (("plain", "uncompressed"), ("gzip", "gzip")):
    finish = [r[0] for r in results[name]]
    whole = [r[1] for r in results[name]]
    median[name] = (statistics.median(finish), statistics.median(whole))
    wire, inflated = results[name][0][3], results[name][0][4]
    print("  %-13s Finish min %.2f s median %.2f s, whole run min %.2f s median %.2f s; "
          "item replies %.1f MB on the wire, %.1f MB inflated"
          % (label, min(finish), median[name][0], min(whole), median[name][1],
             wire / 1e6, inflated / 1e6))
finish_ratios = [g[0] / p[0] for p, g in zip(results["plain"], results["gzip"])]
whole_ratios = [g[1] / p[1] for p, g in zip(results["plain"], results["gzip"])]
print("  gzip / uncompressed: Finish min %.2f median %.2f (target <= 0.8), whole run min %.2f median %.2f"
      % (min(finish_ratios), statistics.median(finish_ratios), min(whole_ratios),
         statistics.median(whole_ratios)))
# The documents name their services, whose addresses differ; everything else must be equal.
same = filecmp.dircmp(results["plain"][0][2], results["gzip"][0][2])
differing = [name for name in same.diff_files if name != "download.xml"]
documents = [open(os.path.join(results[name][0][2], "download.xml")).read()
             .replace(url, "URL") for name, url in (("plain", plain), ("gzip", compressed))]
if same.left_only or same.right_only or differing or documents[0] != documents[1]:
    sys.exit("the two runs wrote different results: %s %s %s"
             % (same.left_only, same.right_only, same.diff_files))
print("  both runs wrote the same download document and files")
PY
