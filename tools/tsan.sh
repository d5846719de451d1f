#!/usr/bin/env bash
# ThreadSanitizer build (clang, build-tsan) and run of the tests that use several threads: the
# tests with the ctest label "threads" (tests/CMakeLists.txt gives it to every test whose name
# matches the pattern below), in every test binary that has one.
# Any data race or lock-order report fails the script.
#
#   tools/tsan.sh            build and run
#   BUILD_DIR=dir            build folder (default build-tsan)
#   JOBS=n                   build and test jobs (default: the number of cores)
#   TSAN_FILTER=pattern      runs the binaries with this gtest filter instead of the label
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-tsan}
filter=${TSAN_FILTER:-'*Thread*:*Concurrent*:*WhileRendering*'}
jobs=${JOBS:-$(nproc)}

flags="-fsanitize=thread -fno-omit-frame-pointer"
# Some test binaries replace the global operator new, which the runtime defines as well: their
# own definitions (linked first) are kept. They allocate through malloc, which the runtime sees.
link="-fsanitize=thread -Wl,--allow-multiple-definition"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVANE_BENCH=OFF \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$link" -DCMAKE_SHARED_LINKER_FLAGS="$link" \
    -DCMAKE_MODULE_LINKER_FLAGS="$link" >/dev/null

# Only the binaries whose sources hold such tests (names as in tests/CMakeLists.txt).
pattern=$(echo "$filter" | sed 's/\*//g; s/:/\\|/g')
targets=()
for dir in tests/*/; do
    lib=$(basename "$dir")
    [ "$lib" = support ] && continue
    if grep -lq "TEST\(_F\)\?([A-Za-z0-9_]*\($pattern\)[A-Za-z0-9_]*, \|TEST\(_F\)\?([A-Za-z0-9_]*, *[A-Za-z0-9_]*\($pattern\)" "$dir"*.cpp 2>/dev/null; then
        if [ "$lib" = realtime ]; then targets+=(threads_tests); else targets+=("${lib}_tests"); fi
    fi
done
echo "== tsan: building ${targets[*]}"
cmake --build "$build" -j"$jobs" --target "${targets[@]}"

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 exitcode=66 ${TSAN_OPTIONS:-}"
export TORVANE_TEST=1
if [ -z "${TSAN_FILTER:-}" ]; then
    echo "== tsan: tests labelled threads"
    ctest --test-dir "$build" -L threads -j"$jobs" --output-on-failure --timeout 900
    exit $?
fi
failed=0
for t in "${targets[@]}"; do
    binary=$(find "$build/tests" -name "$t" -type f -perm -u+x | head -1)
    echo "== tsan: $t"
    if ! "$binary" --gtest_filter="$filter" --gtest_brief=1; then
        echo "== tsan: $t FAILED"
        failed=1
    fi
done
exit $failed
