#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan) in build-fuzz and runs each one for
# a bounded time, starting from its seeds in fuzz/corpus/<name>/. Any crash, leak, sanitizer
# report or failed check fails the script; the input that caused it is left in
# build-fuzz/artifacts/ (add it to fuzz/corpus/<name>/ as regress-<what> with the fix).
#
#   tools/fuzz.sh [seconds per target, default 30] [target names...]
#   FUZZ_JOBS=n    targets run at once (default: the number of cores)
#   BUILD_DIR=dir  build folder (default build-fuzz)
#   tools/fuzz.sh --corpus   only rewrites the generated seeds in fuzz/corpus (make_corpus)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-fuzz}

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTORVANE_FUZZ=ON -DTORVANE_TESTS=OFF -DTORVANE_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_all

if [ "${1:-}" = "--corpus" ]; then
    # Rewrites the generated seeds; inputs kept for found faults (regress-*) stay.
    "$build/fuzz/make_corpus" fuzz/corpus
    exit 0
fi

seconds=${1:-30}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    mapfile -t targets < <(cd "$build/fuzz" && ls fuzz_* | sed 's/^fuzz_//' | sort)
fi
jobs=${FUZZ_JOBS:-$(nproc)}

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
mkdir -p "$build/artifacts" "$build/logs"

run_one() {
    local name=$1 seconds=$2 build=$3
    local work="$build/corpus/$name"
    mkdir -p "$work"
    # New inputs go to the build folder; the seeds in the repository are only read.
    if "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=4096 -print_final_stats=1 -len_control=0 \
           -artifact_prefix="$build/artifacts/$name-" "$work" "fuzz/corpus/$name" >"$build/logs/$name.log" 2>&1; then
        local runs
        runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/logs/$name.log" | grep -o '[0-9]*$' || echo "?")
        echo "fuzz $name: ok, $runs executions in ${seconds} s"
    else
        echo "fuzz $name: FAILED (log $build/logs/$name.log)"
        grep -E 'ERROR|fuzz check failed|runtime error|SUMMARY|Test unit written' "$build/logs/$name.log" | head -20
        return 1
    fi
}
export -f run_one

printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$build"
