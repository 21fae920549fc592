#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# quiet.sh LOG COMMAND...: runs COMMAND with all its output going to LOG, and shows that output
# only when COMMAND fails. Keeps `make demo` and `make test` readable: build noise is never the
# point, except when the build breaks.
set -uo pipefail
log="$1"
shift
mkdir -p "$(dirname "$log")"
if "$@" >"$log" 2>&1; then
  exit 0
fi
status=$?
cat "$log"
echo "failed: $* (the output above is also in $log)" >&2
exit "$status"
