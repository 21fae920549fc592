#!/bin/sh
# SPDX-License-Identifier: MIT
# Service-call benchmark of the SOAP client against the reference service:
#   1. generates a small catalogue and starts ovk-refservice on a free loopback port,
#   2. runs soap_calls_bench with ROUNDS rounds of CALLS GetItemData calls of an article
#      without documents per side (SoapClient against a bare libcurl client, plus the bare
#      pair), the sides in turn,
#   3. runs the same calls over HTTPS against a second service with a test certificate,
#   4. times a 50 MB and a 200 MB document payload reply in CDATA and a 200 MB one as element
#      text against the same reply fetched by bare libcurl: the call, the whole item (download
#      document, files, save), peak memory; 3 rounds each. HUGE_MIB=N adds one round of a
#      reply of N MiB (4096: the payload of gigabytes an item must take in constant memory).
# Usage: bench/soap_calls.sh BUILD_DIR [CALLS [ROUNDS]]   (defaults: 2000 calls, 7 rounds)
set -eu

build=${1:?usage: soap_calls.sh BUILD_DIR [CALLS [ROUNDS]]}
calls=${2:-2000}
rounds=${3:-7}
bench=$build/bin/soap_calls_bench
service=$build/bin/ovk-refservice

. "$(dirname "$0")/lib.sh"
require_programs "$bench" "$service"

"$service" --generate 200 --out "$work/catalog" --seed 7 >/dev/null 2>&1

# An article without document payloads keeps every reply small.
set -- $(python3 - "$work/catalog/catalog.json" <<'EOF'
import json, sys
project = json.load(open(sys.argv[1]))["projects"][0]
article = next(a for a in project["articles"] if not a.get("documents"))
print(project["id"], project.get("password", ""), project["languages"][0], article["id"])
EOF
)
project=$1 password=$2 lang=$3 material=$4

"$service" --catalog "$work/catalog" >"$work/out" 2>"$work/service.log" &
pid=$!
url=$(service_address "$work/out")

echo "== GetItemData calls against ovk-refservice ($url, article $material)"
"$bench" --endpoint "$url" --calls "$calls" --rounds "$rounds" --project "$project" --password "$password" \
    --lang "$lang" --material "$material" || status=$?

# The same calls over HTTPS on one kept-alive connection: what encryption costs per call once
# the handshake is done. A test authority made here is trusted through SSL_CERT_FILE.
if command -v openssl >/dev/null 2>&1; then
    (
        cd "$work"
        openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 \
            -keyout ca.key -out ca.pem -subj "/CN=bench authority"
        openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
            -keyout server.key -out server.csr -subj "/CN=127.0.0.1"
        printf 'subjectAltName=IP:127.0.0.1\n' >server.ext
        openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -set_serial 1 -days 1 \
            -extfile server.ext -out server.pem
    ) >"$work/openssl.log" 2>&1
    "$service" --catalog "$work/catalog" --tls-cert "$work/server.pem" \
        --tls-key "$work/server.key" >"$work/out-tls" 2>>"$work/service.log" &
    tls_pid=$!
    tls_url=$(service_address "$work/out-tls")
    echo
    echo "== GetItemData calls against ovk-refservice over HTTPS ($tls_url)"
    SSL_CERT_FILE="$work/ca.pem" "$bench" --endpoint "$tls_url" --calls "$calls" --rounds "$rounds" \
        --project "$project" --password "$password" --lang "$lang" --material "$material" ||
        status=$?
    kill "$tls_pid" 2>/dev/null && wait "$tls_pid" 2>/dev/null || true
fi

for large in "50 3" "200 3" "200 3 --as-text" ${HUGE_MIB:+"$HUGE_MIB 1"}; do
    set -- $large
    echo
    echo "== $1 MB document payload reply${3:+ (Base64 as element text)}"
    "$bench" --large-mb "$1" --rounds "$2" ${3:+"$3"} || status=$?
done
exit "${status:-0}"
