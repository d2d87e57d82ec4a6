#!/usr/bin/env bash
# Builds everything from nothing and runs the whole test suite: the normal build, then the
# AddressSanitizer+UBSan and ThreadSanitizer builds, a bounded fuzzing run of the framing rules,
# and the Windows build's tests under Wine. `--quick` runs the normal build only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

quick=0
for arg in "$@"; do
    case "$arg" in
        --quick) quick=1 ;;
        -h|--help) echo "usage: scripts/test.sh [--quick]"; exit 0 ;;
        *) echo "unknown option: $arg" >&2; exit 2 ;;
    esac
done

scripts/deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

build_and_test() {
    local dir=$1; shift
    echo "=== $dir: configure and build"
    cmake -S "$root" -B "$root/$dir" -G Ninja -DVANDREL_WERROR=ON "$@" >/dev/null
    cmake --build "$root/$dir" -j "$jobs"
    echo "=== $dir: tests"
    ctest --test-dir "$root/$dir" -j "$jobs" --output-on-failure --timeout 300
    # Reaching here means every case passed (set -e).
    passed=$((passed + $(ctest --test-dir "$root/$dir" -N | sed -n 's/^Total Tests: //p')))
}
passed=0

# The Windows program's end-to-end test belongs to the Windows stage, not this one.
build_and_test build -UVANDREL_WINDOWS_VIEWER
if [ "$quick" -eq 1 ]; then
    echo "tests: $passed passed, 0 failed"
    exit 0
fi

ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions=$root/tests/lsan.supp \
    build_and_test build-asan -DVANDREL_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug

TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 suppressions=$root/tests/tsan.supp" \
    build_and_test build-tsan -DVANDREL_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug

echo "=== fuzzing the framing rules"
scripts/fuzz.sh 60
passed=$((passed + 1))

echo "=== build-windows: cross-build, then the Windows tests under Wine"
scripts/build-windows.sh
if [ -f "$root/build-windows/bin/VandrelViewer.exe" ]; then
    # The program's end-to-end test is a Linux-side test of the cross-built executable.
    cmake -S "$root" -B "$root/build" \
        -DVANDREL_WINDOWS_VIEWER="$root/build-windows/bin/VandrelViewer.exe" >/dev/null
    cmake --build "$root/build" -j "$jobs"
fi
scripts/test-windows.sh | tee "$root/build-windows/test-windows.log"
passed=$((passed + $(sed -n 's/^windows tests: \([0-9]*\) passed.*/\1/p' \
    "$root/build-windows/test-windows.log")))

echo "tests: $passed passed, 0 failed"
