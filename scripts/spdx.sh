#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every source file of the project says its licence in its first lines, as an SPDX identifier,
# so that a file copied out of the tree still carries it.
#   scripts/spdx.sh          lists the source files without the line and fails if there is one
#   scripts/spdx.sh --add    adds the line to each of them (after a #! line, in the file's own
#                            comment style)
set -euo pipefail
cd "$(dirname "$0")/.."
licence="SPDX-License-Identifier: MIT"

# The project's source files: code, build files, scripts and templates; not data or corpora.
sources() {
  if git rev-parse --git-dir >/dev/null 2>&1; then
    git ls-files -- '*.cpp' '*.hpp' '*.h' '*.c' '*.sh' '*.py' '*.cmake' '*.in' 'CMakeLists.txt' \
      '*/CMakeLists.txt' 'Makefile' '.ci/run' ':!:fuzz/corpus/**'
  else
    # A source tree without its history (an unpacked release): every such file but build trees.
    find . \( -path './build*' -o -path ./fuzz/corpus -o -path ./.git \) -prune -o -type f \
      \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' -o -name '*.c' -o -name '*.sh' \
         -o -name '*.py' -o -name '*.cmake' -o -name '*.in' -o -name CMakeLists.txt \
         -o -path ./Makefile -o -path ./.ci/run \) -print | sed 's|^\./||'
  fi
}

comment_for() {
  case "$1" in
    *.cpp | *.hpp) echo "// $licence" ;;
    *.h | *.c | *.h.in) echo "/* $licence */" ;;
    *) echo "# $licence" ;;
  esac
}

missing=()
while IFS= read -r file; do
  [ -f "$file" ] || continue
  head -n 3 "$file" | grep -q "$licence" || missing+=("$file")
done < <(sources)

if [ "${1:-}" = "--add" ]; then
  for file in "${missing[@]}"; do
    line="$(comment_for "$file")"
    if head -n 1 "$file" | grep -q '^#!'; then
      sed -i "1a $line" "$file"
    else
      sed -i "1i $line" "$file"
    fi
  done
  echo "added the licence line to ${#missing[@]} files"
  exit 0
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "These source files have no '$licence' line in their first three lines" \
       "(scripts/spdx.sh --add adds it):" >&2
  printf '  %s\n' "${missing[@]}" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
echo "1 passed, 0 failed"
