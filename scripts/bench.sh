#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every benchmark of the project and prints their figures.
set -euo pipefail
build="${1:-build}"
root="$(cd "$(dirname "$0")/.." && pwd)"

# Figures of another build type say little about what users run.
type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$root/$build/CMakeCache.txt" 2>/dev/null || true)
echo "Benchmarks of the ${type:-unknown} build in $build; each figure beside its baseline from the same run"
[ "$type" = Release ] || echo "warning: not a Release build; \`make bench\` builds one in build-release" >&2
echo

echo "== Base64 codec and download list"
"$root/$build/bin/base64_bench"
echo
echo "== Service calls and client CPU against bare libcurl (same run); 50 and 200 MB payload replies"
# A missed target is reported by the exit status, after every other figure is printed.
sh "$root/bench/soap_calls.sh" "$root/$build" || status=$?
echo
echo "== Wizard model on catalogues of 101,011 and 1,010,101 nodes and 100,000 articles in a leaf,"
echo "   through the real client (ratio against reading the same reply, peak memory per subject)"
sh "$root/bench/wizard_catalogue.sh" "$root/$build" || status=$?
echo
echo "== The wizard's window: a 100,000-node tree, 20,000 articles by 12 columns, Mark All"
"$root/$build/bin/wizard_view_bench" 5
echo
echo "== End-to-end download through ovk-host against a bare libcurl fetch (same run)"
sh "$root/bench/download.sh" "$root/$build"
echo
echo "== Continuing a 4,000-article download stopped after 3,000 against the whole download,"
echo "   over a 100 Mbit/s line (same run)"
sh "$root/bench/continue.sh" "$root/$build" || status=$?
echo
echo "== Symbol records appended with the crash journal against without it: 20,000 records (same run)"
records=$(mktemp -d)
"$root/$build/bin/record_append_bench" "$records" 20000 5
rm -rf "$records"
echo
echo "== Items fetched ahead against one at a time: 200 articles, replies held back 20 ms (same run)"
sh "$root/bench/pipeline.sh" "$root/$build"
echo
echo "== Compressed against uncompressed replies: 250 articles over a 20 Mbit/s link (same run)"
sh "$root/bench/compression.sh" "$root/$build"
echo
echo "== Hostile replies: peak memory and time of one call each"
sh "$root/bench/reply_bounds.sh" "$root/$build"
echo
echo "== A hostile network and hard stops: cut replies, one connection at a time, 30 kills (200 articles)"
sh "$root/bench/network_faults.sh" "$root/$build" || status=$?
echo
echo "== Batch start-up (ovk-host against curl doing the same three POSTs, same run)"
sh "$root/bench/startup.sh" "$root/$build"
exit "${status:-0}"
