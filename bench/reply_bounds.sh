#!/bin/sh
# SPDX-License-Identifier: MIT
# Peak memory and time of the SOAP client on hostile replies, one process per reply, against
# ovk-refservice injecting oversized faults into GetClientData. Each line gives the bytes the
# service sent, the client's peak RSS and the bound it must keep (2 x the bytes + 64 MiB).
# Usage: bench/reply_bounds.sh BUILD_DIR [SCALE]   (SCALE 1 sends up to 1 GiB; 0.25 a quarter)
set -eu

build=${1:?usage: reply_bounds.sh BUILD_DIR [SCALE]}
root=$(cd "$(dirname "$0")/.." && pwd)
scale=${2:-1}
bench=$build/bin/reply_bounds_bench
service=$build/bin/ovk-refservice

. "$(dirname "$0")/lib.sh"
require_programs "$bench" "$service"

status=0
run() {  # LABEL KIND BYTES
    rm -f "$work/out"
    "$service" --catalog "$root/examples/catalog" --fault "GetClientData=$2:$3" >"$work/out" 2>"$work/service.log" &
    pid=$!
    url=$(service_address "$work/out")
    "$bench" --endpoint "$url" --bytes "$3" --label "$1" || status=1
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
    pid=
}

mib() { python3 -c "print(int($1 * $scale * 1048576))"; }
run "element stream (1023 MiB)" elementstream "$(mib 1023)"
run "element stream (64 MiB)" elementstream "$(mib 64)"
run "control char + CDATA 16 MiB" badcdata "$(mib 16)"
run "control char + CDATA 512 MiB" badcdata "$(mib 512)"
run "fault string 200 MB" hugefault "$(python3 -c "print(int(200000000 * $scale))")"
exit $status
