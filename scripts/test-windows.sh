#!/usr/bin/env bash
# Runs the Windows tests under Wine in a private prefix: the cross-built acquisition tests, with
# COM1 and COM2 linked through two pseudo-terminals, the front-end, the program and its installer.
# Needs build-windows/ (scripts/build-windows.sh) and the Linux build's tools in build/bin/. Ends
# with a line "windows tests: N passed, 0 failed".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
windows_bin=$root/build-windows/bin
linux_bin=$root/build/bin

for needed in "$windows_bin/vandrel_acquisition_windows_tests.exe" "$linux_bin/vandrel-pty-bridge"; do
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

echo "=== Windows programs need no DLL beyond those Windows ships"
# The compiler's runtime (libstdc++, libgcc, winpthread) must be linked in, not imported.
system_dlls='^(kernel32|user32|gdi32|gdiplus|comctl32|comdlg32|ole32|oleaut32|advapi32|shell32|shlwapi|uxtheme|msvcrt|ucrtbase|ws2_32|imm32|version|winmm|api-ms-win-.*)\.dll$'
passed_programs=0
for program in "$windows_bin"/*.exe; do
    foreign=$(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^\s*DLL Name: //p' \
        | tr 'A-Z' 'a-z' | grep -Ev "$system_dlls" || true)
    if [ -n "$foreign" ]; then
        echo "$(basename "$program") imports $(echo $foreign)" >&2
        exit 1
    fi
    passed_programs=$((passed_programs + 1))
done
echo "$passed_programs programs import system DLLs only"

echo "=== the installer and the zip"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/build-windows/CMakeCache.txt")
package=$root/build-windows/VandrelViewer-$version-x64
[ -n "$version" ] && [ -f "$package.msi" ] && [ -f "$package.zip" ] \
    || { echo "missing VandrelViewer-$version-x64.msi or .zip in build-windows/" >&2; exit 1; }
# The zip holds one folder with the program as built and the text on running it.
(cd "$work" && cmake -E tar xf "$package.zip")
unpacked=$work/VandrelViewer-$version-x64
cmp -s "$unpacked/VandrelViewer.exe" "$windows_bin/VandrelViewer.exe" && [ -s "$unpacked/README.txt" ] \
    && [ "$(ls "$unpacked" | wc -l)" -eq 2 ] && [ "$(ls "$work" | grep -c VandrelViewer)" -eq 1 ] \
    || { echo "the zip does not hold the program and its README.txt alone" >&2; exit 1; }
echo "the zip holds the program and README.txt; the installer is built"

echo "=== Wine prefix"
timeout 300 wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log" >&2; exit 1; }

# Wine reads its COM map when its server starts: map first, then restart the server.
map_ports() {
    local mapping
    for mapping in "$@"; do
        wine reg add 'HKLM\Software\Wine\Ports' /v "${mapping%%=*}" /t REG_SZ /d "${mapping#*=}" /f \
            >/dev/null 2>&1
    done
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
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
# stops the stage when it failed or passed nothing.
passed=0
run_tests() {
    local name=$1 limit=$2 status=0 count
    shift 2
    timeout "$limit" "$@" 2>&1 | tr -d '\r' | tee "$work/$name.log" || status=$?
    count=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$work/$name.log")
    if [ "$status" -ne 0 ] || [ -z "$count" ] || grep -q '^\[  FAILED  \]' "$work/$name.log"; then
        echo "windows tests: failed" >&2
        exit 1
    fi
    passed=$((passed + count))
}

echo "=== acquisition tests under Wine"
run_tests acquisition 600 wine "$windows_bin/vandrel_acquisition_windows_tests.exe"

# What both front-ends share, built for Windows: the same tests as on Linux.
if [ -x "$windows_bin/vandrel_shared_windows_tests.exe" ]; then
    echo "=== shared front-end pieces under Wine"
    run_tests shared 300 wine "$windows_bin/vandrel_shared_windows_tests.exe"
fi

# The Windows front-end's pieces on real windows, which need an X server of their own.
if [ -x "$windows_bin/vandrel_shell_windows_tests.exe" ]; then
    echo "=== Windows front-end tests under Wine"
    run_tests shell 300 xvfb-run -a wine "$windows_bin/vandrel_shell_windows_tests.exe"
fi

# The Windows program end to end, when the Linux build has its test (configured with
# VANDREL_WINDOWS_VIEWER): in this prefix, which it may map COM1 in for itself.
if [ -x "$linux_bin/windows_end_to_end_test" ]; then
    echo "=== the Windows program under Wine"
    QT_QPA_PLATFORM=offscreen timeout 900 "$linux_bin/windows_end_to_end_test" 2>&1 \
        | tee "$work/endtoend.log" || { echo "windows tests: failed" >&2; exit 1; }
    e2e=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$work/endtoend.log")
    [ -n "$e2e" ] && ! grep -q '^\[  FAILED  \]' "$work/endtoend.log" \
        || { echo "windows tests: failed" >&2; exit 1; }
    passed=$((passed + e2e))
fi

skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:$/\1/p' "$work/acquisition.log")
# The DLL check and the packages' check.
passed=$((passed + 2))
echo "windows tests: $passed passed, 0 failed${skipped:+, $skipped skipped where Wine falls short}"
