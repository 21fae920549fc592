#!/usr/bin/env bash
# Runs every benchmark of the project and prints their figures.
set -euo pipefail
build="${1:-build}"
root="$(cd "$(dirname "$0")/.." && pwd)"
for program in "$root/$build"/bin/*_bench; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program"
  echo
done
