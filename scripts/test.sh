#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the test suite and prints only what a reader needs: the output of each failing test and
# ctest's summary. The full log stays in BUILD/Testing/ctest.log.
set -uo pipefail
build="${1:-build}"
jobs="${2:-$(nproc)}"
log="$build/Testing/ctest.log"
mkdir -p "$build/Testing"

status=0
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs") >"$log" 2>&1 || status=$?

# A failing test's block: its result line and the output ctest prints after it, up to the next
# test's line. Then the summary from "tests passed" on.
awk '
  /^ *[0-9]+\/[0-9]+ Test +#[0-9]+:/ {
    showing = ($0 !~ / Passed +[0-9.]+ sec$/)
  }
  /^ *Start +[0-9]+:/ { showing = 0; next }
  /% tests passed/ { summary = 1 }
  summary || showing { print }
' "$log"
if [ "$status" -ne 0 ] && ! grep -q "% tests passed" "$log"; then
  # ctest itself failed before running tests (no build tree, no tests): show why.
  cat "$log"
fi
exit "$status"
