#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the whole test suite with AddressSanitizer and UndefinedBehaviorSanitizer (g++, its
# own build folder) and runs it. Any report ends the test that caused it; leaks are checked,
# except those the suppression file lists (third-party libraries only, each explained there).
# Usage: scripts/sanitize.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-sanitize}"
jobs="${JOBS:-$(nproc)}"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# -O1 and line tables only: the sanitizers need no more, and it keeps the build within CI's
# time.
cmake -S "$root" -B "$build" -DOVK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Sanitize \
    -DCMAKE_CXX_FLAGS_SANITIZE="-O1 -g1" -DOVK_BUILD_BENCH=OFF -DOVK_WERROR="${OVK_WERROR:-OFF}" \
    "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$jobs"

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs"
