#!/bin/sh
# SPDX-License-Identifier: MIT
# Start-up benchmark of the batch host against curl:
#   1. starts ovk-refservice with the example catalogue on a free loopback port,
#   2. times `ovk-host run --batch --init-only` (a whole process: loading, the offline checks,
#      HelloWorld, GetClientData and getStructure) and curl posting the same three requests on
#      one connection, taking turns, so that both see the same machine,
#   3. prints the median wall and CPU time of each and their ratio; beside them the same start-up
#      in the windowed host, which links the Qt user interface, to show what not loading it saves.
# Usage: bench/startup.sh BUILD_DIR [RUNS]
set -eu

build=${1:?usage: startup.sh BUILD_DIR [RUNS]}
runs=${2:-40}
root=$(cd "$(dirname "$0")/.." && pwd)
host=$build/bin/ovk-host
desktop=$build/libexec/ovk_client/ovk-host-desktop
service=$build/bin/ovk-refservice
command -v curl >/dev/null || { echo "curl is missing" >&2; exit 1; }

. "$(dirname "$0")/lib.sh"
require_programs "$host" "$desktop" "$service"

"$service" --catalog "$root/examples/catalog" --port 0 >"$work/out" 2>"$work/service.log" &
pid=$!
url=$(service_address "$work/out")
sed -e "s|<URL>[^<]*</URL>|<URL>$url</URL>|" "$root/examples/tarvo_download.xml" >"$work/download.xml"

# The requests the component's start-up sends for that document, byte for byte.
envelope() {
    printf '%s' '<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns:xsd="http://www.w3.org/2001/XMLSchema"><soap:Body>'
    printf '%s' "$1"
    printf '%s' '</soap:Body></soap:Envelope>'
}
envelope '<m:HelloWorld xmlns:m="urn:velmora:masterdata"></m:HelloWorld>' >"$work/HelloWorld.xml"
envelope '<m:GetClientData xmlns:m="urn:velmora:masterdata"><m:clientId>6103</m:clientId><m:guiLangId>1033</m:guiLangId></m:GetClientData>' >"$work/GetClientData.xml"
envelope '<m:getStructure xmlns:m="urn:velmora:masterdata"><m:password>demo</m:password><m:projectId>DEMO</m:projectId><m:langId>1033</m:langId></m:getStructure>' >"$work/getStructure.xml"
for operation in HelloWorld GetClientData getStructure; do
    [ "$operation" = HelloWorld ] || echo next
    cat <<EOF
url = "$url"
output = "/dev/null"
silent
show-error
fail
header = "Content-Type: text/xml; charset=utf-8"
header = "SOAPAction: \"urn:velmora:masterdata/$operation\""
data-binary = "@$work/$operation.xml"
EOF
done >"$work/curl.config"

# Both must do their whole job, or the comparison says nothing.
"$host" run --batch --init-only --settings-dir "$work/settings" "$work/download.xml" >"$work/check" 2>&1 ||
    { cat "$work/check"; echo "ovk-host's start-up failed" >&2; exit 1; }
curl -K "$work/curl.config" || { echo "curl's requests failed" >&2; exit 1; }

python3 - "$runs" "$work" "$host" "$desktop" "$build/lib" <<'EOF'
import os, statistics, sys, time

runs, work, host, desktop, component = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]
start_up = ["run", "--batch", "--init-only", "--settings-dir", work + "/settings", work + "/download.xml"]
commands = {
    "ovk-host": [host] + start_up,
    "curl": ["curl", "-K", work + "/curl.config"],
    # Started by ovk-host, it is told where the component's files are; started alone, too.
    "Qt linked": [desktop, "run", "--component-dir", component] + start_up[1:],
}
devnull = os.open(os.devnull, os.O_WRONLY)

def once(argv):
    """Wall and CPU seconds of one whole process, from the kernel's accounting of it."""
    began = time.perf_counter()
    child = os.posix_spawnp(argv[0], argv, os.environ,
                            file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1)])
    _, status, usage = os.wait4(child, 0)
    wall = time.perf_counter() - began
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{argv[0]} failed during the benchmark")
    return wall, usage.ru_utime + usage.ru_stime

times = {name: [] for name in commands}
names = list(commands)
for turn in range(runs + 3):  # three warm-up turns, not counted
    # The first of each turn one further along, so that none always follows the same one.
    for name in names[turn % len(names):] + names[:turn % len(names)]:
        measured = once(commands[name])
        if turn >= 3:
            times[name].append(measured)

def median(name, which):
    return statistics.median(t[which] for t in times[name])

def run_ratios(name, which):
    """The run-by-run ratios against curl: drift of the machine cancels out."""
    return [a[which] / b[which] for a, b in zip(times[name], times["curl"])]

def paired(name, which):
    return statistics.median(run_ratios(name, which))

print(f"{runs} runs each, taking turns (the first one further along each turn); medians; "
      "floor: curl sending the same three requests, each side a whole process")
print(f"{'':40} {'wall ms':>8} {'cpu ms':>8} {'wall/curl':>10} {'cpu/curl':>9}")
labels = {
    "curl": "curl, the same three POSTs",
    "ovk-host": "ovk-host run --batch --init-only",
    "Qt linked": "the same with Qt's user interface linked",
}
for name in ["curl", "ovk-host", "Qt linked"]:
    wall, cpu = median(name, 0) * 1e3, median(name, 1) * 1e3
    ratios = "" if name == "curl" else f"{paired(name, 0):10.2f} {paired(name, 1):9.2f}"
    print(f"{labels[name]:40} {wall:8.2f} {cpu:8.2f} {ratios}")
for name in ["ovk-host", "Qt linked"]:
    wall, cpu = run_ratios(name, 0), run_ratios(name, 1)
    print(f"{labels[name]} / curl: wall min {min(wall):.2f} median {statistics.median(wall):.2f}, "
          f"cpu min {min(cpu):.2f} median {statistics.median(cpu):.2f}")
goal = 1.6
verdict = "met" if max(paired("ovk-host", 0), paired("ovk-host", 1)) <= goal else "missed"
print(f"goal: ovk-host's start-up at most {goal}x curl's, wall and cpu: {verdict}")
EOF
