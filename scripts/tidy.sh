#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs clang-tidy with the checks of .clang-tidy over every source file of src/, with the
# compile commands of a configured build folder, and fails on any finding. Prints only the
# findings; the whole output stays in BUILD_DIR/logs/tidy.log.
# Usage: scripts/tidy.sh [BUILD_DIR] [JOBS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
jobs="${2:-$(nproc)}"
# clang-tidy 16: the parser of clang 14 rejects the ranges of libstdc++ 12 that src/ uses.
tidy=run-clang-tidy-16
command -v "$tidy" >/dev/null || { echo "tidy: $tidy is missing (scripts/install-deps.sh --tidy)" >&2; exit 1; }
[ -f "$build/compile_commands.json" ] || { echo "tidy: $build/compile_commands.json is missing (make configure)" >&2; exit 1; }

log="$build/logs/tidy.log"
mkdir -p "$build/logs"
files=$(find "$root/src" -name '*.cpp' | wc -l)
status=0
"$tidy" -p "$build" -j "$jobs" -quiet "$root/src/.*\.cpp\$" >"$log" 2>&1 || status=$?
if [ "$status" -eq 0 ]; then
  echo "clang-tidy: no findings in the $files source files of src/"
else
  # The findings with their source lines, without the commands and the counts of suppressed
  # warnings in system headers.
  sed 's/\x1b\[[0-9;]*m//g' "$log" |
    grep -vE '^(clang-tidy-16 |[0-9]+ warnings? (and [0-9]+ errors? )?generated|Suppressed [0-9]+ warnings|Use -header-filter|[0-9]+ warnings? treated as errors)'
  echo "clang-tidy: findings in src/ (log: $log)" >&2
fi
exit "$status"
