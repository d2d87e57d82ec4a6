#!/usr/bin/env bash
# Runs the Windows tests under Wine in a private prefix: the cross-built acquisition tests, with
# COM1 and COM2 linked through two pseudo-terminals, the front-end, the program and its installer;
# the same test programs of the 32-bit build where this Wine runs 32-bit programs. Every prefix
# maps all of COM1-COM20: the ports in use to pseudo-terminals, the rest to a path that does not
# exist, so that no name the program offers reaches a serial device of the machine. Needs
# build-windows/ and build-windows-x86/ (scripts/build-windows.sh) and the Linux build's tools in
# build/bin/. Ends with a line "windows tests: N passed, 0 failed".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
windows_bin=$root/build-windows/bin
x86_bin=$root/build-windows-x86/bin
linux_bin=$root/build/bin

for needed in "$windows_bin/vandrel_acquisition_windows_tests.exe" \
    "$x86_bin/vandrel_acquisition_windows_tests.exe" "$linux_bin/vandrel-pty-bridge"; do
    [ -x "$needed" ] || { echo "missing $needed: build first" >&2; exit 2; }
done

work=$(mktemp -d /tmp/vandrel-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
# No installer dialogs for Mono and Gecko, which nothing here needs, and no menu entries on the
# host for the shortcuts that the installer test makes.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
bridge_pid=
cleanup() {
    [ -n "$bridge_pid" ] && kill "$bridge_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

echo "=== Windows programs need no DLL beyond those Windows ships; the shipped one is stripped"
# The compiler's runtime (libstdc++, libgcc, winpthread) must be linked in, not imported.
system_dlls='^(kernel32|user32|gdi32|gdiplus|comctl32|comdlg32|ole32|oleaut32|advapi32|shell32|shlwapi|uxtheme|msvcrt|ucrtbase|ws2_32|imm32|version|winmm|api-ms-win-.*)\.dll$'
passed_programs=0
for program in "$windows_bin"/*.exe "$x86_bin"/*.exe; do
    foreign=$(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^\s*DLL Name: //p' \
        | tr 'A-Z' 'a-z' | grep -Ev "$system_dlls" || true)
    if [ -n "$foreign" ]; then
        echo "$(basename "$program") imports $(echo $foreign)" >&2
        exit 1
    fi
    passed_programs=$((passed_programs + 1))
done
for program in "$windows_bin/VandrelViewer.exe" "$x86_bin/VandrelViewer.exe"; do
    if x86_64-w64-mingw32-objdump -h "$program" | grep -q ' \.debug' \
        || ! x86_64-w64-mingw32-objdump -t "$program" | grep -q 'no symbols'; then
        echo "$program carries symbols or debug sections" >&2
        exit 1
    fi
done
echo "$passed_programs programs import system DLLs only; VandrelViewer.exe of both builds is" \
    "stripped ($(stat -c %s "$windows_bin/VandrelViewer.exe") and" \
    "$(stat -c %s "$x86_bin/VandrelViewer.exe") bytes)"

echo "=== the installers and the zips"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/build-windows/CMakeCache.txt")
# check_packages BUILD ARCH: the zip holds one folder with the program as built and the text on
# running it; the installer is built.
check_packages() {
    local build=$root/$1 arch=$2 package unpacked
    package=$build/VandrelViewer-$version-$arch
    [ -n "$version" ] && [ -f "$package.msi" ] && [ -f "$package.zip" ] \
        || { echo "missing VandrelViewer-$version-$arch.msi or .zip in $1/" >&2; exit 1; }
    mkdir "$work/$arch"
    (cd "$work/$arch" && cmake -E tar xf "$package.zip")
    unpacked=$work/$arch/VandrelViewer-$version-$arch
    cmp -s "$unpacked/VandrelViewer.exe" "$build/bin/VandrelViewer.exe" && [ -s "$unpacked/README.txt" ] \
        && [ "$(ls "$unpacked" | wc -l)" -eq 2 ] && [ "$(ls "$work/$arch" | wc -l)" -eq 1 ] \
        || { echo "the $arch zip does not hold the program and its README.txt alone" >&2; exit 1; }
}
check_packages build-windows x64
check_packages build-windows-x86 x86
echo "the zips hold the program and README.txt; the installers are built (x64 and x86)"

echo "=== Wine prefix"
timeout 300 wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log" >&2; exit 1; }

# Wine reads its COM map when its server starts: map first, then restart the server. Every name
# from COM1 to COM20 is mapped, those not given to a path that does not exist: Wine gives a serial
# device of the machine (/dev/ttyS0 is its console) the first name left free.
map_ports() {
    local n device mapping
    {
        printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
        for n in $(seq 1 20); do
            device=$work/no-such-port/COM$n
            for mapping in "$@"; do
                [ "${mapping%%=*}" = "COM$n" ] && device=${mapping#*=}
            done
            printf '"COM%d"="%s"\r\n' "$n" "$device"
        done
    } >"$work/ports.reg"
    wine regedit /S "Z:${work//\//\\}\\ports.reg" >/dev/null 2>&1
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}

# Before every start: the server runs with the map, and no name from COM1 to COM20 leads to a
# serial device of the machine. Names above COM20, where Wine puts those devices, are out of
# reach: the program offers COM1 to COM20 only, and the tests open no others.
check_ports() {
    local n target
    wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' >/dev/null 2>&1 || true
    for n in $(seq 1 20); do
        [ -L "$WINEPREFIX/dosdevices/com$n" ] \
            || { echo "COM$n is not mapped in the Wine prefix: stopping" >&2; exit 1; }
        target=$(readlink -m "$WINEPREFIX/dosdevices/com$n")
        case "$target" in
            /dev/ttyS*) echo "COM$n leads to $target, a serial device of the machine: stopping" >&2
                exit 1 ;;
        esac
    done
}

"$linux_bin/vandrel-pty-bridge" >"$work/bridge" &
bridge_pid=$!
for _ in $(seq 100); do
    [ "$(wc -l <"$work/bridge")" -ge 2 ] && break
    sleep 0.1
done
[ "$(wc -l <"$work/bridge")" -ge 2 ] || { echo "the pty bridge did not start" >&2; exit 1; }
reader=$(sed -n 1p "$work/bridge")
writer=$(sed -n 2p "$work/bridge")
map_ports "COM1=$reader" "COM2=$writer"

# Runs one test program under a time limit, its log in $work/NAME.log, and adds its passed cases;
# stops the stage when it failed or passed nothing. A program that Wine did not run at all prints
# nothing, whatever the exit code says.
passed=0
run_tests() {
    local name=$1 limit=$2 status=0 count
    shift 2
    check_ports
    timeout "$limit" "$@" 2>&1 | tr -d '\r' | tee "$work/$name.log" || status=$?
    count=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$work/$name.log")
    if [ "$status" -ne 0 ] || [ -z "$count" ] || grep -q '^\[  FAILED  \]' "$work/$name.log"; then
        echo "windows tests: failed" >&2
        exit 1
    fi
    passed=$((passed + count))
}

# The test programs of one build: acquisition, the shared pieces, the front-end on real windows,
# which need an X server of their own.
# run_build LABEL BIN
run_build() {
    local label=$1 bin=$2
    echo "=== $label: acquisition tests under Wine"
    run_tests "$label-acquisition" 600 wine "$bin/vandrel_acquisition_windows_tests.exe"
    echo "=== $label: shared front-end pieces under Wine"
    run_tests "$label-shared" 300 wine "$bin/vandrel_shared_windows_tests.exe"
    echo "=== $label: Windows front-end tests under Wine"
    run_tests "$label-shell" 300 xvfb-run -a wine "$bin/vandrel_shell_windows_tests.exe"
}
run_build x64 "$windows_bin"

# 32-bit programs need Wine's 32-bit half (Debian's wine32, i386 multiarch). Without it Wine ends
# them at once, with exit code 0: whether it ran is told by what the program printed.
check_ports
x86_ran=0
if wine "$x86_bin/vandrel_shared_windows_tests.exe" --gtest_list_tests 2>/dev/null | tr -d '\r' \
    | grep -q '^FrameRulesTest\.$'; then
    run_build x86 "$x86_bin"
    x86_ran=1
else
    echo "=== x86: not run: this Wine runs no 32-bit programs (wine32 missing, see docs/windows.md); the x86 build is compiled and packaged only"
fi

# The Windows program end to end, when the Linux build has its test (configured with
# VANDREL_WINDOWS_VIEWER): in this prefix, which it may map COM1 in for itself.
if [ -x "$linux_bin/windows_end_to_end_test" ]; then
    echo "=== the Windows program under Wine"
    check_ports
    QT_QPA_PLATFORM=offscreen timeout 900 "$linux_bin/windows_end_to_end_test" 2>&1 \
        | tee "$work/endtoend.log" || { echo "windows tests: failed" >&2; exit 1; }
    e2e=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$work/endtoend.log")
    [ -n "$e2e" ] && ! grep -q '^\[  FAILED  \]' "$work/endtoend.log" \
        || { echo "windows tests: failed" >&2; exit 1; }
    passed=$((passed + e2e))
fi

skipped=0
for log in "$work"/*-acquisition.log; do
    count=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:$/\1/p' "$log")
    skipped=$((skipped + ${count:-0}))
done
# The DLL and strip check and the packages' check.
passed=$((passed + 2))
x86_note=", x86 not run (no wine32)"
[ "$x86_ran" -eq 0 ] || x86_note=", x86 included"
echo "windows tests: $passed passed, 0 failed, $skipped skipped where Wine falls short$x86_note"
