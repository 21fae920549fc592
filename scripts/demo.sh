#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The main job, end to end: check the example download documents offline, start the reference
# master-data service on a free loopback port, point a download document at it, download the
# articles of one tree leaf through ovk-host (start-up, wizard, Finish) printing every event,
# summarise the files written, then stop the service.
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
leaf="Motors"
echo "== ovk-host run: search by product group, leaf $leaf, all its articles marked, Finish"
status=0
"$bin/ovk-host" run --batch --settings-dir "$work/settings" \
  --fields "Product group" --leaf "$leaf" --mark all --finish "$work/download.xml" || status=$?

echo
echo "== What the download wrote beside the download document"
size() { stat -c %s "$1"; }
articles="$(grep -o '<Articleinfo>' "$work/download.xml" | wc -l)"
printf '%-24s %10s bytes  %s articles\n' download.xml "$(size "$work/download.xml")" "$articles"
for f in symbols.txt ger.txt; do
  if [ -f "$work/$f" ]; then
    printf '%-24s %10s bytes  %s records\n' "$f" "$(size "$work/$f")" \
      "$(grep -c -e '^SYMBOL' -e '^SYM ' -e '^GER' "$work/$f" || true)"
  fi
done
for f in "$work"/*; do
  name="$(basename "$f")"
  case "$name" in download.xml|symbols.txt|ger.txt|service.out|settings) continue ;; esac
  if [ "$name" = Banner1.jpg ]; then
    printf '%-24s %10s bytes  (banner picture, from the start-up)\n' "$name" "$(size "$f")"
  else
    printf '%-24s %10s bytes  document\n' "$name" "$(size "$f")"
  fi
done
exit "$status"
