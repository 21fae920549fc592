#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer harnesses of fuzz/ with clang and runs each for a fixed time over its
# corpus (fuzz/corpus/<name>). New inputs go to a scratch folder, so the corpus in the
# repository only changes when somebody copies a finding into it. Prints one line per harness
# with the executions run; fails when a harness finds a crash, a leak or undefined behaviour,
# and keeps the input that caused it in $BUILD_DIR/artifacts.
# Usage: scripts/fuzz.sh [BUILD_DIR]    FUZZ_SECONDS (default 20) per harness.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-fuzz}"
seconds="${FUZZ_SECONDS:-20}"
clang=clang++-16
command -v "$clang" >/dev/null || { echo "fuzz: $clang is missing (scripts/install-deps.sh --fuzz)" >&2; exit 1; }

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -DOVK_FUZZ=ON -DCMAKE_CXX_COMPILER="$clang" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOVK_BUILD_TESTS=OFF -DOVK_BUILD_BENCH=OFF \
    -DOVK_WERROR="${OVK_WERROR:-OFF}" \
    "${launcher[@]}" >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target fuzzers

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
for symbolizer in /usr/lib/llvm-16/bin/llvm-symbolizer /usr/bin/llvm-symbolizer; do
    [ -x "$symbolizer" ] && { export ASAN_SYMBOLIZER_PATH="$symbolizer"; break; }
done

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/artifacts"

# One harness: its log in artifacts/, its summary line in the scratch folder.
run_one() {
    local name="$1" corpus="$root/fuzz/corpus/$1" log="$build/artifacts/$1.log" result=ok
    mkdir -p "$scratch/$name"
    # -timeout: one input taking longer than this is a hang, and a finding.
    "$build/bin/${name}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=65536 -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
        "$scratch/$name" "$corpus" >"$log" 2>&1 || result="FOUND (see $log)"
    local runs added
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    added="$(sed -n 's/^stat::new_units_added: *//p' "$log")"
    printf '%-22s %12s %10s %s\n' "$name" "${runs:-?}" "${added:-?}" "$result" >"$scratch/$name.line"
}
export -f run_one
export root build scratch seconds

# As many harnesses at a time as there are cores: each is single-threaded.
ls "$root/fuzz/corpus" | xargs -P "${JOBS:-$(nproc)}" -I{} bash -c 'run_one {}'

printf '%-22s %12s %10s %s\n' harness executions "new units" result
cat "$scratch"/*.line
! grep -q FOUND "$scratch"/*.line
