#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every benchmark of the project and prints their figures. Every figure is a ratio against
# a baseline measured in the same run, subject and baseline in turn, printed per round and as
# min / median; each benchmark names its baseline (its floor) in one line.
set -euo pipefail
build="${1:-build}"
root="$(cd "$(dirname "$0")/.." && pwd)"

# Figures of another build type say little about what users run.
type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$root/$build/CMakeCache.txt" 2>/dev/null || true)
echo "Benchmarks of the ${type:-unknown} build in $build; each figure beside its baseline from the same run"
[ "$type" = Release ] || echo "warning: not a Release build; \`make bench\` builds one in build-release" >&2
# Other work on the machine moves every figure; the load says how much there was.
echo "$(nproc) processors; load at the start:$(uptime | sed 's/.*load average://')"
echo

# section TITLE...: prints the title's lines; took: how long the section took, and the load.
began=$SECONDS
section() {
    printf '%s\n' "$@"
}
took() {
    echo "   ($((SECONDS - began)) s; load$(uptime | sed 's/.*load average://'))"
    echo
    began=$SECONDS
}

section "== Base64 codec and download list"
"$root/$build/bin/base64_bench"
took
section "== Service calls: client CPU per call against bare libcurl (same run); 50 and 200 MB" \
    "   payload replies in CDATA and 200 MB as element text against bare libcurl's transfer"
# A missed target is reported by the exit status, after every other figure is printed.
sh "$root/bench/soap_calls.sh" "$root/$build" || status=$?
took
section "== Wizard model on catalogues of 101,011 and 1,010,101 nodes and 100,000 articles in a leaf," \
    "   through the real client (against the plain transfer and the client's read of the same" \
    "   reply, peak memory of every round)"
sh "$root/bench/wizard_catalogue.sh" "$root/$build" || status=$?
took
section "== The wizard's window: a 100,000-node tree, 20,000 articles by 12 columns, Mark All"
"$root/$build/bin/wizard_view_bench" 5
took
section "== End-to-end download through ovk-host against a bare program writing the same files (same run)"
sh "$root/bench/download.sh" "$root/$build"
took
section "== Continuing a 300-article download stopped after 225 against the whole download," \
    "   over a 100 Mbit/s line (same run)"
sh "$root/bench/continue.sh" "$root/$build" 300 225 3 || status=$?
took
section "== Symbol records appended with the crash journal against without it: 20,000 records (same run)"
records=$(mktemp -d)
"$root/$build/bin/record_append_bench" "$records" 20000 5
rm -rf "$records"
took
section "== Items fetched ahead against one at a time: 200 articles, replies held back 20 ms (same run)"
sh "$root/bench/pipeline.sh" "$root/$build"
took
section "== Compressed against uncompressed replies: 40 articles over a 20 Mbit/s link (same run)"
sh "$root/bench/compression.sh" "$root/$build" 40
took
section "== Hostile replies: peak memory and time of one call each"
sh "$root/bench/reply_bounds.sh" "$root/$build"
took
section "== A hostile network and hard stops: cut replies, one connection at a time, 30 kills (100 articles)"
sh "$root/bench/network_faults.sh" "$root/$build" 100 || status=$?
took
section "== Batch start-up (ovk-host against curl doing the same three POSTs, same run)"
sh "$root/bench/startup.sh" "$root/$build"
took
echo "All benchmarks: $SECONDS s"
exit "${status:-0}"
