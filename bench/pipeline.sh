#!/bin/sh
# SPDX-License-Identifier: MIT
# Item fetch on a slow network: 200 generated articles served by ovk-refservice holding every
# reply back for 20 ms, downloaded through ovk-host (every article marked, Finish) three times in
# the same run: one request at a time (MaxRequestsInFlight=1), with the default bound (4) and
# with 8. Times
# the item loop (ovk-host's progress bar, drawn on a terminal as each item is through, from the
# first item to the last: the fetch and the handling of 199 items), the Finish step (from the
# wizard reaching its last step to DownloadComplete, which adds the structure and the final
# rewrite of the document) and the whole run; checks both runs wrote the same download document
# and files; prints the ratios fetched ahead / one at a time (target for the item loop <= 0.35)
# and against the latency ideal (the fastest and the median item loop of each bound), and the
# most requests the service saw at once (in any mode).
# Each round runs every mode, the first mode one further along each round (ROUNDS, default 3);
# printed are each round's ratios, then their min / median.
# Usage: bench/pipeline.sh BUILD_DIR [ARTICLES] [LATENCY_MS] [ROUNDS]
set -eu

build=${1:?usage: pipeline.sh BUILD_DIR [ARTICLES] [LATENCY_MS] [ROUNDS]}
articles=${2:-200}
latency=${3:-20}
rounds=${4:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
host=$build/bin/ovk-host
service=$build/bin/ovk-refservice

. "$(dirname "$0")/lib.sh"
require_programs "$host" "$service"

"$service" --generate "$articles" --out "$work/catalog" --seed 7 >/dev/null 2>&1
"$service" --catalog "$work/catalog" --latency-ms "$latency" >"$work/service.out" 2>"$work/service.err" &
pid=$!
url=$(service_address "$work/service.out")

python3 - "$host" "$root/data" "$work" "$url" "$rounds" "$latency" "$root/bench" <<'PY'
import filecmp, json, os, pty, re, statistics, subprocess, sys, threading, time

host, data, work, url, rounds, latency, bench = sys.argv[1:8]
sys.path.insert(0, bench)
from generated_catalogue import load_project, prepare_run, wizard_script

project = load_project(work)
script = wizard_script(project)

def run(name, in_flight):
    folder = os.path.join(work, name)
    document = prepare_run(folder, url, project)
    with open(os.path.join(folder, "settings", "VelmoraDotNet.ini"), "w") as ini:
        ini.write("[Settings]\nMaxRequestsInFlight=%d\n" % in_flight)
    # Standard error on a terminal, so that ovk-host draws its bar as each item starts: the
    # first and the last item's draw bound the item loop.
    master, slave = pty.openpty()
    bars = {}
    def read_bars():
        pending = b""
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                return
            if not chunk:
                return
            now = time.monotonic()
            pending = (pending + chunk)[-4096:]
            for done in re.findall(rb"\] (\d+)/\d+ items", pending):
                bars.setdefault(int(done), now)
    reader = threading.Thread(target=read_bars, daemon=True)
    reader.start()
    start = time.monotonic()
    process = subprocess.Popen(
        [host, "run", "--batch", "--component-dir", data, "--settings-dir",
         os.path.join(folder, "settings")] + script + [document],
        stdout=subprocess.PIPE, stderr=slave, stdin=subprocess.DEVNULL, text=True)
    os.close(slave)
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
    reader.join(5)
    os.close(master)
    count = len(project["articles"])
    if status != 0 or finish_start is None or finish_end is None or 1 not in bars or count not in bars:
        sys.exit("ovk-host failed (status %d) with MaxRequestsInFlight=%d" % (status, in_flight))
    return (finish_end - finish_start, end - start, os.path.join(folder, "run"),
            bars[count] - bars[1])

modes = (("sequential", 1, "one request at a time"), ("ahead", 4, "4 requests in flight"),
         ("ahead8", 8, "8 requests in flight"))
runs = {}
for round in range(int(rounds)):
    turn = round % len(modes)
    for name, in_flight, _ in modes[turn:] + modes[:turn]:
        runs.setdefault(name, []).append(run("%s%d" % (name, round), in_flight))

for round in range(int(rounds)):
    for name in ("ahead", "ahead8"):
        same = filecmp.dircmp(runs["sequential"][round][2], runs[name][round][2])
        if same.left_only or same.right_only or same.diff_files:
            sys.exit("the runs wrote different results: %s %s %s"
                     % (same.left_only, same.right_only, same.diff_files))
count = len(project["articles"])
print("%d articles, every reply held back %s ms; %s rounds, the modes in turn" % (count, latency, rounds))

def spread(ratios):
    return "min %.2f median %.2f" % (min(ratios), statistics.median(ratios))

# What the latency alone allows: the items after the first, as many at a time as are in
# flight, each held back.
ideals = {name: (count - 1) * float(latency) / 1000 / in_flight for name, in_flight, _ in modes}
for round in range(int(rounds)):
    line = "  round %d:" % (round + 1)
    for name, in_flight, label in modes:
        finish, whole, _, loop = runs[name][round]
        line += " %s items %.2f s (Finish %.2f s, whole %.2f s);" % (label, loop, finish, whole)
    seq, ahead = runs["sequential"][round], runs["ahead"][round]
    print(line + " ahead / one at a time: items %.2f, whole %.2f" % (ahead[3] / seq[3], ahead[1] / seq[1]))
print("  fetched ahead / one at a time: items %s (target <= 0.35), Finish %s, whole run %s"
      % (spread([a[3] / s[3] for a, s in zip(runs["ahead"], runs["sequential"])]),
         spread([a[0] / s[0] for a, s in zip(runs["ahead"], runs["sequential"])]),
         spread([a[1] / s[1] for a, s in zip(runs["ahead"], runs["sequential"])])))
for name, in_flight, target in (("ahead", 4, "target <= 1.3"), ("ahead8", 8, "no target")):
    print("  items with %d in flight against the latency ideal ((%d - 1) x %s ms / %d = %.2f s): "
          "%s (%s)"
          % (in_flight, count, latency, in_flight, ideals[name],
             spread([r[3] / ideals[name] for r in runs[name]]), target))
print("  (items: from the first item's start to the last one's; Finish adds the structure and"
      " the final rewrite of the document, the same work in every mode)")
print("  every run wrote the same download document and files")
PY

kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
pid=
echo "  the service's $(tail -n 1 "$work/service.out")"
