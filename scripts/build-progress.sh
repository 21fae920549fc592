#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# build-progress.sh LOG COMMAND...: runs a build with all its output going to LOG and shows how
# far it has got instead of minutes of silence: on a terminal one line that keeps its place
# ("[ 45%] src/service/item_download.cpp"), elsewhere a line at every tenth of the way. The
# whole output is shown only when the build fails.
set -uo pipefail
log="$1"
shift
mkdir -p "$(dirname "$log")"
terminal=0
[ -t 1 ] && terminal=1

shown=-1
while IFS= read -r line; do
  printf '%s\n' "$line" >>"$log"
  # Makefile generators count in per cent ("[ 45%]"), Ninja in steps ("[12/340]").
  if [[ "$line" =~ ^\[\ *([0-9]+)%\]\ (.*)$ ]]; then
    percent="${BASH_REMATCH[1]}" what="${BASH_REMATCH[2]}"
  elif [[ "$line" =~ ^\[([0-9]+)/([0-9]+)\]\ (.*)$ ]]; then
    percent=$((100 * BASH_REMATCH[1] / BASH_REMATCH[2])) what="${BASH_REMATCH[3]}"
  else
    continue
  fi
  if [ "$terminal" = 1 ]; then
    what="${what##* }"
    printf '\r\033[K[%3d%%] %s' "$percent" "${what:0:70}"
  elif [ $((percent / 10)) -gt "$shown" ]; then
    shown=$((percent / 10))
    echo "  [${percent}%] ${what:0:90}"
  fi
done < <(: >"$log"; "$@" 2>&1; echo "__status $?")
[ "$terminal" = 1 ] && printf '\r\033[K'

status="$(tail -n 1 "$log" | sed -n 's/^__status //p')"
sed -i '$d' "$log"
if [ "${status:-1}" -eq 0 ]; then
  exit 0
fi
cat "$log"
echo "failed: $* (the output above is also in $log)" >&2
exit "${status:-1}"
