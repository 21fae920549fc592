#!/usr/bin/env bash
# The main job, end to end: check the example download documents offline, start the reference
# master-data service on a free loopback port, point a download document at it, run the
# component's start-up through ovk-host and print every event, then stop the service.
set -euo pipefail

build="${1:-build}"
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/$build/bin"
work="$(mktemp -d)"
service_pid=""

cleanup() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== Offline checks of the example download documents"
for doc in "$root"/examples/tarvo_download.xml "$root"/examples/merido_download.xml; do
  echo "-- ovk-host check $(basename "$doc")"
  "$bin/ovk-host" check "$doc"
done

echo
echo "== Starting the reference master-data service"
mkfifo "$work/service.out"
"$bin/ovk-refservice" --catalog "$root/examples/catalog" --port 0 >"$work/service.out" &
service_pid=$!
exec 3<"$work/service.out"
read -r -t 30 first_line <&3 || { echo "the reference service did not start" >&2; exit 1; }
url="${first_line#listening on }"
echo "$first_line"

echo
echo "== Download document pointing at it"
sed -e "s|<URL>[^<]*</URL>|<URL>$url</URL>|" "$root/examples/tarvo_download.xml" >"$work/download.xml"
cat "$work/download.xml"

echo
echo "== ovk-host run --batch --init-only"
status=0
"$bin/ovk-host" run --batch --init-only --settings-dir "$work/settings" "$work/download.xml" || status=$?
echo
echo "== Files beside the download document"
ls -l "$work" | grep -v -e service.out -e '^total'
exit "$status"
