#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every public header compiles on its own, warning-free under the strict flags hosts use: the
# C++ headers in C++17 and C++20, the C header in C89 and C11 (and as C++).
#   public_headers_test.sh CXX CC INCLUDE_DIR...
set -euo pipefail

cxx="$1" cc="$2"
shift 2
includes=()
for dir in "$@"; do includes+=("-I$dir"); done
strict=(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Werror -fsyntax-only)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0 checked=0

check() {  # check LANGUAGE COMPILER STANDARD HEADER EXTRA_FLAGS...
  local language="$1" compiler="$2" standard="$3" header="$4"
  shift 4
  # A header of macros alone would leave C an empty translation unit, which -Wpedantic refuses.
  printf '#include <ovk/%s>\ntypedef int ovk_header_check;\n' "$header" >"$work/check"
  checked=$((checked + 1))
  if ! "$compiler" -x "$language" -std="$standard" "${strict[@]}" "$@" "${includes[@]}" \
       "$work/check" 2>"$work/errors"; then
    echo "FAILED: <ovk/$header> as $standard:" >&2
    cat "$work/errors" >&2
    failed=$((failed + 1))
  fi
}

headers=()
for dir in "$@"; do
  for path in "$dir"/ovk/*.h "$dir"/ovk/*.hpp; do
    [ -e "$path" ] && headers+=("$(basename "$path")")
  done
done
[ ${#headers[@]} -gt 0 ] || { echo "FAILED: no public headers in $*" >&2; exit 1; }

for header in "${headers[@]}"; do
  for standard in c++17 c++20; do
    check c++ "$cxx" "$standard" "$header" -Wold-style-cast
  done
  if [[ "$header" == *.h ]]; then
    for standard in c89 c11; do
      check c "$cc" "$standard" "$header"
    done
  fi
done
echo "$((checked - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
