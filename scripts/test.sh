#!/usr/bin/env bash
# Builds everything from nothing and runs the whole test suite: the normal build, then the
# AddressSanitizer+UBSan and ThreadSanitizer builds, a bounded fuzzing run of the framing rules,
# and the Windows build's tests under Wine. `--quick` runs the normal build only. `--stress` runs the AddressSanitizer suite three
# times in a row while two busy loops load the machine, to show the suite holds under load.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

quick=0
stress=0
for arg in "$@"; do
    case "$arg" in
        --quick) quick=1 ;;
        --stress) stress=1 ;;
        -h|--help) echo "usage: scripts/test.sh [--quick | --stress]"; exit 0 ;;
        *) echo "unknown option: $arg" >&2; exit 2 ;;
    esac
done

sets=(run build test)
[ "$quick" -eq 1 ] || sets+=(fuzz)
scripts/deps.sh "${sets[@]}"

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

passed=0
failed=0
skipped=0
junit=$(mktemp -d)
busy=()
finish() {
    for pid in "${busy[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    rm -rf "$junit"
}
trap finish EXIT

summary() {
    echo "tests: $passed passed, $failed failed, $skipped skipped"
}

# Adds one ctest run's counts, read from its JUnit file: ctest counts a skipped case apart
# from a passed one only there.
count_run() {
    local file=$1 suite tests failures skips
    # ctest writes the element's attributes one a line.
    suite=$(tr '\n\t' '  ' <"$file" 2>/dev/null | grep -m1 -o '<testsuite [^>]*>' || true)
    attribute() { sed -n "s/.* $1=\"\([0-9]*\)\".*/\1/p" <<<"$suite"; }
    tests=$(attribute tests)
    failures=$(attribute failures)
    skips=$(attribute skipped)
    if [ -z "$tests" ]; then
        echo "no test results in $file" >&2
        failed=$((failed + 1))
        return
    fi
    passed=$((passed + tests - ${failures:-0} - ${skips:-0}))
    failed=$((failed + ${failures:-0}))
    skipped=$((skipped + ${skips:-0}))
}

build() {
    local dir=$1; shift
    echo "=== $dir: configure and build"
    cmake -S "$root" -B "$root/$dir" -G Ninja -DVANDREL_WERROR=ON -DVANDREL_BUILD_TESTS=ON "$@" \
        >/dev/null
    cmake --build "$root/$dir" -j "$jobs"
}

# Runs the suite of one build; stops the whole run with the counts so far when a case failed.
run_tests() {
    local dir=$1 label=$2 status=0
    echo "=== $label: tests"
    ctest --test-dir "$root/$dir" -j "$jobs" --output-on-failure --timeout 300 \
        --output-junit "$junit/$label.xml" || status=$?
    count_run "$junit/$label.xml"
    if [ "$status" -ne 0 ]; then
        summary
        exit 1
    fi
}

asan() {
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=$root/tests/lsan.supp \
        "$@"
}

if [ "$stress" -eq 1 ]; then
    build build-asan -DVANDREL_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug
    for _ in 1 2; do
        bash -c 'while :; do :; done' &
        busy+=("$!")
    done
    echo "=== loading the machine with two busy loops (${busy[*]})"
    for round in 1 2 3; do
        asan run_tests build-asan "build-asan-stress-$round"
    done
    summary
    exit 0
fi

# Adds one GoogleTest program's counts, read from its XML report; a program that left none failed.
count_gtest() {
    local file=$1 root tests failures errors disabled skips
    root=$(tr '\n\t' '  ' <"$file" 2>/dev/null | grep -m1 -o '<testsuites [^>]*>' || true)
    attribute() { sed -n "s/.* $1=\"\([0-9]*\)\".*/\1/p" <<<"$root"; }
    tests=$(attribute tests)
    if [ -z "$tests" ]; then
        echo "no test results in $file" >&2
        failed=$((failed + 1))
        return
    fi
    failures=$(attribute failures)
    errors=$(attribute errors)
    disabled=$(attribute disabled)
    skips=$(grep -c 'result="skipped"' "$file" || true)
    passed=$((passed + tests - ${failures:-0} - ${errors:-0} - ${disabled:-0} - skips))
    failed=$((failed + ${failures:-0} + ${errors:-0}))
    skipped=$((skipped + ${disabled:-0} + skips))
}

# The view's tests again at a fractional scale factor, where the picture's device pixels and the
# widget's logical ones part. On X under Xvfb: at a scale factor, Qt 6.4's offscreen platform
# grabs only a 640 x 480 crop of a window, so the checks of what the screen shows would prove
# nothing there.
run_scaled_views() {
    local factor=$1 program status
    for program in display_view_test display_high_dpi_test; do
        echo "=== build: $program at scale factor $factor, on xcb"
        status=0
        QT_SCALE_FACTOR=$factor QT_QPA_PLATFORM=xcb timeout 600 \
            xvfb-run -a -s "-screen 0 1920x1080x24" "$root/build/bin/$program" \
            --gtest_output="xml:$junit/$program-$factor.xml" || status=$?
        count_gtest "$junit/$program-$factor.xml"
        if [ "$status" -ne 0 ]; then
            summary
            exit 1
        fi
    done
}

# The Windows program's end-to-end test belongs to the Windows stage, not this one.
build build -UVANDREL_WINDOWS_VIEWER
run_tests build build
run_scaled_views 1.5
if [ "$quick" -eq 1 ]; then
    summary
    exit 0
fi

build build-asan -DVANDREL_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug
asan run_tests build-asan build-asan

build build-tsan -DVANDREL_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 suppressions=$root/tests/tsan.supp" \
    run_tests build-tsan build-tsan

echo "=== fuzzing the framing rules"
if scripts/fuzz.sh 60; then
    passed=$((passed + 1))
else
    failed=$((failed + 1))
    summary
    exit 1
fi

echo "=== build-windows: cross-build, then the Windows tests under Wine"
scripts/build-windows.sh
if [ -f "$root/build-windows/bin/VandrelViewer.exe" ]; then
    # The program's end-to-end test is a Linux-side test of the cross-built executable.
    cmake -S "$root" -B "$root/build" \
        -DVANDREL_WINDOWS_VIEWER="$root/build-windows/bin/VandrelViewer.exe" >/dev/null
    cmake --build "$root/build" -j "$jobs"
fi
status=0
scripts/test-windows.sh | tee "$junit/windows.log" || status=$?
line=$(grep -m1 '^windows tests: [0-9]* passed' "$junit/windows.log" || true)
if [ "$status" -ne 0 ] || [ -z "$line" ]; then
    failed=$((failed + 1))
    summary
    exit 1
fi
passed=$((passed + $(sed -n 's/^windows tests: \([0-9]*\) passed.*/\1/p' <<<"$line")))
skipped=$((skipped + $(sed -n 's/.*, \([0-9]*\) skipped.*/\1/p' <<<"$line" | grep . || echo 0)))

summary
