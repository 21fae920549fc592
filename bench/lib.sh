# SPDX-License-Identifier: MIT
# What every benchmark script shares; sourced after the script has set `build`.
# A scratch folder `work` that goes away with the script, together with the reference service
# whose process id the script keeps in `pid`.
work=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# service_address FILE: the address the reference service names in the first line of its
# output FILE ("listening on URL"), waiting up to 30 s for it. Fails with the line it got when
# that is anything else.
service_address() {
    first=
    for _ in $(seq 300); do
        first=$(head -n 1 "$1" 2>/dev/null || true)
        [ -n "$first" ] && break
        sleep 0.1
    done
    case $first in
        "listening on "*) echo "${first#listening on }" ;;
        *) echo "unexpected first line from the service: $first" >&2; return 1 ;;
    esac
}

# require_programs PROGRAM...: stops the script, naming every program that is not built.
require_programs() {
    missing=
    for program in "$@"; do
        [ -x "$program" ] || missing="$missing $program"
    done
    [ -z "$missing" ] || { echo "not built:$missing (make bench builds them all)" >&2; exit 1; }
}

# write_download_document FILE URL PROJECT PASSWORD: a TARVO download document for the service
# at URL, with the symbol and GER files every benchmark compares.
write_download_document() {
    cat >"$1" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<Download>
  <System>TARVO</System>
  <URL>$2</URL>
  <ProjectID>$3</ProjectID>
  <Language>English</Language>
  <Password>$4</Password>
  <Project>
    <Symbolfile>symbols.txt</Symbolfile>
    <Gerfile>ger.txt</Gerfile>
  </Project>
</Download>
XML
}

# serve ARGS...: starts the reference service `$service` on the catalogue in `$work/catalog`
# with ARGS, keeps its process id in `pid` and sets `url`.
serve() {
    "$service" --catalog "$work/catalog" "$@" >"$work/out" 2>/dev/null &
    pid=$!
    url=$(service_address "$work/out")
}

# stop_service: stops the service that serve started.
stop_service() {
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
    pid=
}

# document DIR: a fresh folder DIR holding a download document for the service at `url`, for
# `project` and `password`.
document() {
    rm -rf "$1"
    mkdir -p "$1"
    write_download_document "$1/download.xml" "$url" "$project" "$password"
}
