#!/bin/sh
# SPDX-License-Identifier: MIT
# The wizard on catalogues of 101,011 and 1,010,101 tree nodes with 100,000 articles in a leaf,
# through the real SOAP client against ovk-refservice standing in for such a catalogue: each
# round's time against the plain transfer of the same reply (bare libcurl keeping it in memory)
# and against the client's own read of it, the three in turn, each in a process of its own
# with its peak memory; then the same in the wizard's window, with the longest time its event
# loop stood still (target <= 100 ms) while the tree builds and while three leaves load.
# Usage: bench/wizard_catalogue.sh BUILD_DIR [ROUNDS]
set -eu

build=${1:?usage: wizard_catalogue.sh BUILD_DIR [ROUNDS]}
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${2:-3}
bench=$build/bin/wizard_bench
view_bench=$build/bin/wizard_view_bench
service=$build/bin/ovk-refservice

. "$(dirname "$0")/lib.sh"
require_programs "$bench" "$view_bench" "$service"

status=0
for shape in 10x100x100 100x100x100; do
    rm -f "$work/out"
    "$service" --catalog "$root/examples/catalog" --tree-shape "$shape" --leaf-rows 100000 \
        >"$work/out" 2>"$work/service.log" &
    pid=$!
    url=$(service_address "$work/out")
    echo "== tree $shape, 100,000 articles in a leaf"
    "$bench" --endpoint "$url" --subject tree --rounds "$rounds" || status=1
    "$bench" --endpoint "$url" --subject list --rounds "$rounds" || status=1
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$view_bench" --endpoint "$url" || status=1
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
    pid=
done
exit $status
